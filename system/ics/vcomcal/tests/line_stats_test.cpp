#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <ze/vcomcal/line_stats.h>

namespace ze::vcomcal {
namespace {

std::string parseError(const std::string& text)
{
    std::string error;
    return LineStats::parse(text, 0, &error) ? "parsed" : error;
}

TEST(LineStatsFile, aFieldThatIsNoCountOrNoFiniteNumberIsNamed)
{
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {R"({"count": -5, "mean": 1, "variance": 0})",
         R"("count" is -5, not a non-negative integer that fits)"},
        {R"({"count": 2.5, "mean": 1, "variance": 0})", R"("count" is 2.5, not)"},
        {R"({"count": 1e30, "mean": 1, "variance": 0})", R"("count" is 1e+30, not)"},
        {R"({"count": 3, "mean": null, "variance": 0})",
         R"("mean" is null, not a number from -1000000.0 to 1000000.0)"},
        {R"({"count": 3, "mean": 1, "variance": -1})", R"("variance" is -1, not)"},
        {R"({"count": 3, "mean": 1})", R"(no "variance")"},
        {R"({"count": 3, "mean": 1, "variance": 0, "weight": 2})", R"(no "weight2")"},
        {"[1, 2]", "not a JSON object"},
    };
    for (const auto& c : cases) {
        EXPECT_NE(std::string::npos, parseError(c.text).find(c.error)) << parseError(c.text);
    }
}

TEST(LineStatsFile, theLargestCountStaysFiniteAndAHalfLifeFollowsTheLine)
{
    std::string error;
    const std::string full =
        "{\"count\": " + std::to_string(ULONG_MAX) + R"(, "mean": 5, "variance": 1})";
    std::optional<LineStats> line = LineStats::parse(full, 0, &error);
    ASSERT_TRUE(line) << error;
    line->add(7);
    EXPECT_EQ(ULONG_MAX, line->count());
    EXPECT_TRUE(LineStats::parse(line->text(), 0, &error)) << error;

    // An old record of 1000 panels at 0 weighs no more than an endless
    // history at a half-life of 10: ten panels at 10 take it halfway.
    std::optional<LineStats> drifting =
        LineStats::parse(R"({"count": 1000, "mean": 0, "variance": 0})", 10, &error);
    ASSERT_TRUE(drifting) << error;
    for (int i = 0; i < 10; ++i) drifting->add(10);
    EXPECT_NEAR(5.0, drifting->mean(), 0.5);
    std::optional<LineStats> back = LineStats::parse(drifting->text(), 10, &error);
    ASSERT_TRUE(back) << error;
    back->add(10);
    drifting->add(10);
    EXPECT_DOUBLE_EQ(drifting->mean(), back->mean());
    EXPECT_DOUBLE_EQ(drifting->variance(), back->variance());
}

class SharedState : public ::testing::Test {
protected:
    ~SharedState() override { std::filesystem::remove_all(dir); }

    std::string dir = [] {
        std::string name = std::filesystem::temp_directory_path() / "vcomcal-line-XXXXXX";
        return std::string(mkdtemp(name.data()));
    }();
    std::string path = dir + "/line.json";
};

TEST_F(SharedState, twoStationsAddingAtOnceLoseNoPanel)
{
    constexpr int kPanelsEach = 50;
    const auto station = [&] {
        std::string error;
        const auto file = LineStateFile::open(path, kDefaultHalfLifePanels, &error);
        for (int i = 0; file && i < kPanelsEach; ++i) {
            if (!file->add(100 + i % 3, &error)) return false;
        }
        return file != nullptr;
    };
    const pid_t other = fork();
    if (other == 0) _exit(station() ? 0 : 1);
    const bool here = station();
    int status = 0;
    waitpid(other, &status, 0);
    EXPECT_TRUE(here);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string error;
    const std::optional<LineStats> line = LineStats::load(path, &error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(2u * kPanelsEach, line->count());
}

TEST_F(SharedState, nothingIsWrittenThroughALink)
{
    const std::string victim = dir + "/victim";
    std::ofstream(victim) << "keep";
    std::filesystem::create_symlink(victim, path + ".tmp");
    std::string error;
    auto file = LineStateFile::open(path, 0, &error);
    ASSERT_TRUE(file) << error;
    ASSERT_TRUE(file->add(120, &error)) << error;
    file.reset();

    std::filesystem::remove(path + ".lock");
    std::filesystem::create_symlink(victim, path + ".lock");
    EXPECT_FALSE(LineStateFile::open(path, 0, &error));
    EXPECT_NE(std::string::npos, error.find("symbolic link")) << error;
    std::filesystem::remove(path);
    std::filesystem::create_symlink(victim, path);
    EXPECT_FALSE(LineStateFile::open(path, 0, &error));
    EXPECT_NE(std::string::npos, error.find("is a symbolic link")) << error;
    std::stringstream kept;
    kept << std::ifstream(victim).rdbuf();
    EXPECT_EQ("keep", kept.str());
    EXPECT_FALSE(LineStateFile::open(dir + "/missing/line.json", 0, &error));
    EXPECT_NE(std::string::npos, error.find("is its directory writable?")) << error;
}

}  // namespace
}  // namespace ze::vcomcal
