#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <tvconfig/configutil.h>
#include <ze/platform/paths.h>
#include <ze/test/log_capture.h>

#include "temp_root.h"

namespace {

using ze::platform::platformRoot;
using ze::platform::resolvePath;

TEST(PlatformPaths, FixedPathsResolveUnderTheRootWithoutDoubledSlashes)
{
    ze::test::TempRoot root;  // restores an unset root afterwards
    unsetenv("ZE_PLATFORM_ROOT");
    EXPECT_EQ(platformRoot(), "/");
    EXPECT_EQ(resolvePath("/obdata/x.ini"), "/obdata/x.ini");
    setenv("ZE_PLATFORM_ROOT", "", 1);
    EXPECT_EQ(resolvePath("/obdata/x.ini"), "/obdata/x.ini");

    setenv("ZE_PLATFORM_ROOT", "/srv/board/", 1);
    EXPECT_EQ(platformRoot(), "/srv/board/");
    EXPECT_EQ(resolvePath("/obdata/x.ini"), "/srv/board/obdata/x.ini");
    EXPECT_EQ(resolvePath("//etc/fw_env.config"), "/srv/board/etc/fw_env.config");
    EXPECT_EQ(resolvePath("/"), "/srv/board");
    EXPECT_EQ(resolvePath("local/x.ini"), "local/x.ini");
}

class ConfigFile : public ::testing::Test {
protected:
    static constexpr const char* kBoardIni = "/obdata/model/config/board.ini";

    void SetUp() override
    {
        root_.write(kBoardIni,
                    "top = 0\n"
                    "[VCOM]\n"
                    "vcom_default = 512\n"
                    "i2c_bus = 1\n"
                    "i2c_bus = 2\n"
                    "Name = upper\n"
                    "digits = 0123456789\n"
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

TEST_F(ConfigFile, SectionAndKeyMatchExactlyAndTheFirstOccurrenceWins)
{
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

TEST_F(ConfigFile, MissingFilesSectionsKeysAndBadArgumentsReadAsNotFound)
{
    EXPECT_EQ(get("[VCOM]", "vcom_default", "/obdata/model/config/none.ini"), "<none>");
    EXPECT_EQ(get("[PANEL]", "vcom_default"), "<none>");
    EXPECT_EQ(get("[VCOM]", "missing"), "<none>");

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

TEST_F(ConfigFile, AMalformedLineIsSkippedAndTheKeysAroundItStillCount)
{
    root_.write("/etc/broken.ini", "[VCOM]\nbefore = 1\nthis line is broken\nafter = 2\n");
    ze::test::LogCapture log;
    EXPECT_EQ(get("[VCOM]", "before", "/etc/broken.ini"), "1");
    EXPECT_EQ(get("[VCOM]", "after", "/etc/broken.ini"), "2");
    ASSERT_FALSE(log.bodies(QOR_DEBUG_LEVEL_INFO).empty());
    EXPECT_NE(log.bodies(QOR_DEBUG_LEVEL_INFO)[0].find("line 3"), std::string::npos);
    EXPECT_TRUE(log.bodies(QOR_DEBUG_LEVEL_ERROR).empty());
}

}  // namespace
