#pragma once
// A fresh platform root per test: a temporary directory that
// $ZE_PLATFORM_ROOT names while the object lives.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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

    // Runs `use` while `fixedPath` cannot be read: mode 0, and for root, whom
    // modes do not stop, under the unprivileged uid.
    template <typename Use>
    void withoutReadAccess(const std::string& fixedPath, Use use) const
    {
        chmod(path(fixedPath).c_str(), 0);
        const bool root = geteuid() == 0;
        if (root && seteuid(kNobody) != 0) abort();
        use();
        if (root && seteuid(0) != 0) abort();
        chmod(path(fixedPath).c_str(), 0644);
    }

private:
    static constexpr uid_t kNobody = 65534;
    std::string dir_;
};

}  // namespace test
}  // namespace ze
