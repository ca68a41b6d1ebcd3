#include "tool_run.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <ze/test/virtual_clock.h>

#include "app.h"

namespace vcomctl {
namespace test {

ToolRun runTool(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    ze::test::resetClock();
    const Io io{out, err, false, [] { return ze::test::nowUs(); }};
    ToolRun run;
    run.status = runVcomctl(args, io);
    run.out = out.str();
    run.err = err.str();
    return run;
}

TempDir::TempDir()
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vcomctl-test-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& relative, const std::string& text) const
{
    const std::filesystem::path file = path_ + "/" + relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

std::string TempDir::read(const std::string& relative) const
{
    std::ifstream in(path_ + "/" + relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace test
}  // namespace vcomctl
