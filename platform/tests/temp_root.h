#pragma once
// A fresh platform root per test: a temporary directory that
// $ZE_PLATFORM_ROOT names while the object lives.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace ze {
namespace test {

class TempRoot {
public:
    TempRoot()
    {
        const char* tmp = getenv("TMPDIR");
        dir_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zeplatform-XXXXXX";
        if (mkdtemp(&dir_[0]) == nullptr) abort();
        setenv("ZE_PLATFORM_ROOT", dir_.c_str(), 1);
    }
    ~TempRoot()
    {
        unsetenv("ZE_PLATFORM_ROOT");
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& dir() const { return dir_; }
    // A fixed platform path ("/etc/x") inside this root.
    std::string path(const std::string& fixedPath) const { return dir_ + fixedPath; }
    void write(const std::string& fixedPath, const std::string& text) const
    {
        std::filesystem::create_directories(std::filesystem::path(path(fixedPath)).parent_path());
        std::ofstream(path(fixedPath), std::ios::binary) << text;
    }
    std::string read(const std::string& fixedPath) const
    {
        std::ifstream in(path(fixedPath), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string dir_;
};

}  // namespace test
}  // namespace ze
