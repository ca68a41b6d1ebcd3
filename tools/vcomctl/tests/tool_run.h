#pragma once
// Runs vcomctl in-process on the virtual clock and keeps what it printed.

#include <string>
#include <vector>

namespace vcomctl {
namespace test {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// The clock starts at 0 for every run, so trace times are exact.
ToolRun runTool(const std::vector<std::string>& args);

// A temporary directory, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    void write(const std::string& relative, const std::string& text) const;
    std::string read(const std::string& relative) const;

private:
    std::string path_;
};

}  // namespace test
}  // namespace vcomctl
