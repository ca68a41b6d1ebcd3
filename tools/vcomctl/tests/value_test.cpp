#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include <ze/sim/panel.h>

#include "chips.h"
#include "command_line.h"
#include "value.h"

namespace vcomctl {
namespace {

std::uint16_t valueOf(const std::string& text)
{
    std::uint16_t value = 0xDEAD;
    const std::string error = parseValue(text, &value);
    EXPECT_EQ(error, "") << text;
    return value;
}

std::string refusal(const std::string& text)
{
    std::uint16_t value = 0x1234;
    const std::string error = parseValue(text, &value);
    EXPECT_EQ(value, 0x1234) << "a refused text must not change the value";
    return error;
}

TEST(AValue, IsReadAsDecimalOrAsHexAfter0x)
{
    EXPECT_EQ(valueOf("0"), 0);
    EXPECT_EQ(valueOf("128"), 128);
    EXPECT_EQ(valueOf("0x80"), 0x80);
    EXPECT_EQ(valueOf("0X80"), 0x80);
    EXPECT_EQ(valueOf("0xfF"), 0xFF);
    EXPECT_EQ(valueOf("0x0"), 0);
    EXPECT_EQ(valueOf("0x00000080"), 0x80);
}

TEST(AValue, IsRefusedWhenItIsNotEntirelyANumber)
{
    EXPECT_NE(refusal("0x1ZZ").find("'0x1ZZ' is not a number"), std::string::npos);
    EXPECT_NE(refusal("12a").find("is not a number"), std::string::npos);
    EXPECT_NE(refusal("0x").find("no digits"), std::string::npos);
    EXPECT_NE(refusal("").find("empty"), std::string::npos);
    for (const char* text : {"-1", "+5", " 5", "5 ", "1.5", "0b101", "x80", "0x-1"}) {
        EXPECT_NE(refusal(text), "") << text;
    }
}

TEST(AValue, WithALeadingZeroIsRefusedInsteadOfReadAsOctal)
{
    EXPECT_NE(refusal("010").find("leading zero"), std::string::npos);
    EXPECT_NE(refusal("010").find("write 10"), std::string::npos);
    EXPECT_NE(refusal("0350"), "");
    EXPECT_NE(refusal("00"), "");
    EXPECT_NE(refusal("080"), "");
}

TEST(AValue, MustFitSixteenBits)
{
    EXPECT_EQ(valueOf("65535"), 65535);
    EXPECT_EQ(valueOf("0xFFFF"), 0xFFFF);
    EXPECT_NE(refusal("65536").find("out of range (0 to 65535)"), std::string::npos);
    EXPECT_NE(refusal("70000").find("out of range"), std::string::npos);
    EXPECT_NE(refusal("0x10000").find("out of range"), std::string::npos);
    EXPECT_NE(refusal("99999999999999999999999").find("out of range"), std::string::npos);
    EXPECT_NE(refusal("99999999999999999999999z").find("not a number"), std::string::npos);
}

Command update(std::uint16_t value)
{
    return Command{Op::Update, value, false, std::to_string(value)};
}

Command save(std::uint16_t value)
{
    return Command{Op::Save, value, false, std::to_string(value)};
}

TEST(ChipRanges, LetEightBitChipsTakeUpTo255Only)
{
    for (const char* name : {"auo", "in518", "boe", "in525", "kd733", "kd532p"}) {
        const ChipInfo& chip = *chipByName(name);
        EXPECT_EQ(checkRange(update(255), chip), "") << name;
        EXPECT_EQ(checkRange(save(255), chip), "") << name;
        EXPECT_NE(checkRange(update(256), chip), "") << name;
        EXPECT_NE(checkRange(save(256), chip), "") << name;
    }
}

TEST(ChipRanges, LetTheRt6966UpdateReachItsTenBitCodeButSaveOnly255)
{
    const ChipInfo& rt6966 = *chipByName("rt6966");
    EXPECT_EQ(checkRange(update(653), rt6966), "");
    EXPECT_NE(checkRange(update(654), rt6966).find("update 654: out of range for rt6966 (0 to 653"),
              std::string::npos);
    EXPECT_EQ(checkRange(save(255), rt6966), "");
    EXPECT_NE(checkRange(save(256), rt6966), "");
}

TEST(ChipRanges, KeepTheG1625WithinItsSevenBits)
{
    const ChipInfo& g1625 = *chipByName("g1625");
    EXPECT_EQ(checkRange(update(127), g1625), "");
    EXPECT_NE(checkRange(update(128), g1625), "");
    EXPECT_NE(checkRange(save(128), g1625), "");
}

TEST(ChipRanges, DoNotConcernCommandsWithoutAValue)
{
    const ChipInfo& g1625 = *chipByName("g1625");
    EXPECT_EQ(checkRange(Command{Op::Read, 0xFFFF, false, ""}, g1625), "");
    EXPECT_EQ(checkRange(Command{Op::Pattern, 0xFFFF, true, ""}, g1625), "");
}

TEST(TheChipTable, NamesTheChipsAsTheSimulatedBoardDoes)
{
    ASSERT_EQ(supportedChips().size(), 8u);
    for (const ChipInfo& chip : supportedChips()) {
        ze::sim::ChipType type{};
        ASSERT_TRUE(ze::sim::chipFromName(chip.name, &type)) << chip.name;
        EXPECT_EQ(static_cast<int>(type), chip.typeIdx) << chip.name;
    }
    EXPECT_EQ(chipByTypeIdx(2), nullptr);
    EXPECT_EQ(chipByTypeIdx(5), nullptr);
    EXPECT_EQ(chipByName("BOE"), chipByTypeIdx(4));
    EXPECT_EQ(chipByName("boe2"), nullptr);
}

}  // namespace
}  // namespace vcomctl
