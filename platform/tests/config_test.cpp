#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <tvconfig/configutil.h>
#include <ze/test/log_capture.h>

#include "temp_root.h"

namespace {

class ConfigFile : public ::testing::Test {
protected:
    static constexpr const char* kBoardIni = "/obdata/model/config/board.ini";

    void SetUp() override
    {
        root_.write(kBoardIni,
                    "[VCOM]\n"
                    "vcom_default = 512\n"
                    "i2c_bus = 1\n"
                    "i2c_bus = 2\n"
                    "Name = upper\n"
                    "digits = 0123456789\n"
                    "this line is broken\n"
                    "[OTHER]\n"
                    "only_other = 9\n"
                    "[VCOM]\n"
                    "later = 3\n"
                    "i2c_bus = 3\n");
    }

    // The value, or "<none>" when not found.
    std::string get(const char* section, const char* key, const char* path = kBoardIni)
    {
        char value[64] = "untouched";
        const int found =
            tvConfig::ConfigUtil::instance()->getIniValue(path, section, key, value, sizeof value);
        if (found == 0) {
            EXPECT_STREQ(value, "untouched");
            return "<none>";
        }
        EXPECT_EQ(found, 1);
        return value;
    }

    ze::test::TempRoot root_;
};

TEST_F(ConfigFile, MissingFilesSectionsAndKeysAreNotFoundTheFirstOccurrenceWinsAndBadLinesAreSkipped)
{
    ze::test::LogCapture log;
    EXPECT_EQ(get("[VCOM]", "vcom_default"), "512");
    EXPECT_EQ(get("VCOM", "vcom_default"), "512");
    EXPECT_EQ(get("[vcom]", "vcom_default"), "<none>");
    EXPECT_EQ(get("[VCOM]", "Name"), "upper");
    EXPECT_EQ(get("[VCOM]", "name"), "<none>");
    EXPECT_EQ(get("[VCOM]", "vcom"), "<none>");
    EXPECT_EQ(get("[VCOM]", "only_other"), "<none>");
    EXPECT_EQ(get("[OTHER]", "only_other"), "9");
    EXPECT_EQ(get("[VCOM]", "i2c_bus"), "1");
    EXPECT_EQ(get("[VCOM]", "later"), "3");
    EXPECT_EQ(get("[VCOM]", "vcom_default", "/obdata/model/config/none.ini"), "<none>");
    ASSERT_FALSE(log.bodies(QOR_DEBUG_LEVEL_INFO).empty());
    EXPECT_NE(log.bodies(QOR_DEBUG_LEVEL_INFO)[0].find("line 7"), std::string::npos);
    EXPECT_TRUE(log.bodies(QOR_DEBUG_LEVEL_ERROR).empty());
}

TEST_F(ConfigFile, ValuesAreCutToTheBufferAndAlwaysTerminated)
{
    char value[8];
    std::memset(value, 'Z', sizeof value);
    tvConfig::ConfigUtil* util = tvConfig::ConfigUtil::instance();
    EXPECT_EQ(util->getIniValue(kBoardIni, "[VCOM]", "digits", value, 5), 1);
    EXPECT_STREQ(value, "0123");
    EXPECT_EQ(value[5], 'Z');
    EXPECT_EQ(util->getIniValue(kBoardIni, "[VCOM]", "digits", value, 1), 1);
    EXPECT_STREQ(value, "");
}

TEST_F(ConfigFile, BadArgumentsReadAsNotFound)
{
    tvConfig::ConfigUtil* util = tvConfig::ConfigUtil::instance();
    char value[8] = "keep";
    EXPECT_EQ(util->getIniValue(nullptr, "[VCOM]", "vcom_default", value, 8), 0);
    EXPECT_EQ(util->getIniValue(kBoardIni, nullptr, "vcom_default", value, 8), 0);
    EXPECT_EQ(util->getIniValue(kBoardIni, "[VCOM]", nullptr, value, 8), 0);
    EXPECT_EQ(util->getIniValue(kBoardIni, "[VCOM]", "vcom_default", nullptr, 8), 0);
    EXPECT_EQ(util->getIniValue(kBoardIni, "[VCOM]", "vcom_default", value, 0), 0);
    EXPECT_EQ(util->getIniValue(kBoardIni, "[VCOM]", "vcom_default", value, -1), 0);
    EXPECT_STREQ(value, "keep");
}

}  // namespace
