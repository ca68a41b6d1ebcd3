#include <cstdint>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "command_line.h"
#include "value.h"

namespace vcomctl {
namespace {

TEST(AValue, IsReadAsDecimalOrAsHexAfter0xUpToSixteenBits)
{
    const std::pair<const char*, std::uint16_t> good[] = {
        {"0", 0},   {"128", 128},         {"0x80", 0x80},   {"0X80", 0x80},    {"0xfF", 0xFF},
        {"0x0", 0}, {"0x00000080", 0x80}, {"65535", 65535}, {"0xFFFF", 0xFFFF}};
    for (const auto& [text, expected] : good) {
        std::uint16_t value = 0xDEAD;
        EXPECT_EQ(parseValue(text, &value), "") << text;
        EXPECT_EQ(value, expected) << text;
    }
}

TEST(AValue, IsRefusedWithItsReasonUnlessEntirelyAPlainDecimalOrHexNumberThatFits)
{
    const std::pair<const char*, const char*> bad[] = {
        {"0x1ZZ", "'0x1ZZ' is not a number"},
        {"0x", "no digits"},
        {"", "empty"},
        {"010", "leading zero (octal is not accepted); write 10 "},
        {"0350", "leading zero"},
        {"00", "leading zero"},
        {"080", "leading zero"},
        {"65536", "out of range (0 to 65535)"},
        {"0x10000", "out of range"},
        {"99999999999999999999999", "out of range"},
        {"99999999999999999999999z", "not a number"},
    };
    for (const auto& [text, reason] : bad) {
        std::uint16_t value = 0x1234;
        EXPECT_NE(parseValue(text, &value).find(reason), std::string::npos) << text;
        EXPECT_EQ(value, 0x1234) << "a refused text changed the value: " << text;
    }
    for (const char* text : {"12a", "-1", "+5", " 5", "5 ", "1.5", "0b101", "x80", "0x-1"}) {
        std::uint16_t value = 0x1234;
        EXPECT_NE(parseValue(text, &value).find("is not a number"), std::string::npos) << text;
    }
}

TEST(ChipRanges, BoundUpdateAndSaveValuesPerChipAndLeaveOtherCommandsAlone)
{
    const struct {
        const char* chip;
        std::uint16_t updateMax;
        std::uint16_t saveMax;
    } chips[] = {{"auo", 255, 255},    {"in518", 255, 255}, {"boe", 255, 255},
                 {"in525", 255, 255},  {"kd733", 255, 255}, {"kd532p", 255, 255},
                 {"rt6966", 653, 255}, {"g1625", 127, 127}};
    for (const auto& c : chips) {
        const ChipInfo& chip = *ze::ic::catalogue::byName(c.chip);
        for (const auto& [op, max] :
             {std::pair{Op::Update, c.updateMax}, std::pair{Op::Save, c.saveMax}}) {
            EXPECT_EQ(checkRange(Command{op, max, false, ""}, chip), "") << c.chip;
            const std::uint16_t over = max + 1;
            EXPECT_NE(checkRange(Command{op, over, false, ""}, chip), "") << c.chip << " " << over;
        }
    }
    const ChipInfo& g1625 = *ze::ic::catalogue::byName("g1625");
    EXPECT_EQ(checkRange(Command{Op::Read, 0xFFFF, false, ""}, g1625), "");
    EXPECT_EQ(checkRange(Command{Op::Pattern, 0xFFFF, true, ""}, g1625), "");
}

}  // namespace
}  // namespace vcomctl
