#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <ze/vcomcal/meter.h>

namespace ze::vcomcal {
namespace {

// Answers 1 + |value - 100| / 2 per line; line "7" gets garbage, "9" ends it.
constexpr const char* kStdioMeter = R"(while read v; do
  case $v in
    7) echo 'ERR probe';;
    9) exit 4;;
    *) d=$((v - 100)); echo "  $(( (d < 0 ? -d : d) / 2 + 1 )).25 ";;
  esac
done
)";

class Meters : public ::testing::Test {
protected:
    Meters() { std::ofstream(script) << kStdioMeter; }
    ~Meters() override { std::remove(script.c_str()); }

    // One script per test: CTest runs them side by side.
    std::string script = std::filesystem::temp_directory_path() /
                         (std::string("vcomcal-meter-") +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".sh");
};

std::string failure(Meter& meter, unsigned value)
{
    try {
        meter.read(value);
    } catch (const MeterError& e) {
        return e.what();
    }
    return "no error";
}

TEST_F(Meters, aStdioMeterAnswersALinePerValueAndEachFaultIsAnError)
{
    const auto meter = stdioMeter("sh " + script);
    EXPECT_DOUBLE_EQ(1.25, meter->read(100));
    EXPECT_DOUBLE_EQ(5.25, meter->read(108));
    EXPECT_EQ("meter 'sh " + script + "' printed 'ERR probe', not one number", failure(*meter, 7));
    EXPECT_DOUBLE_EQ(3.25, meter->read(96));
    EXPECT_EQ("meter 'sh " + script + "' ended without a reading (exit status 4)",
              failure(*meter, 9));
}

TEST_F(Meters, aCommandMeterSeesTheValueAndFailsOnExitStatusOrGarbage)
{
    EXPECT_DOUBLE_EQ(42.5, commandMeter("echo $((VCOM_VALUE / 2)).5")->read(85));
    EXPECT_EQ("meter 'sh -c \"exit 3\"' failed (exit status 3)",
              failure(*commandMeter("sh -c \"exit 3\""), 1));
    EXPECT_EQ("meter 'echo 1 2' printed '1 2', not one number",
              failure(*commandMeter("echo 1 2"), 1));
    EXPECT_NE(std::string::npos,
              failure(*commandMeter("no-such-meter-xyz"), 1).find("cannot start"));
}

}  // namespace
}  // namespace ze::vcomcal
