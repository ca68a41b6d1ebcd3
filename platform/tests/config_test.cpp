#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
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

TEST_F(ConfigFile,
       MissingFilesSectionsAndKeysAreNotFoundTheFirstOccurrenceWinsAndBadLinesAreSkipped)
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

TEST_F(ConfigFile, AChangedFileCountsFromTheNextLookupEvenAtTheSameSize)
{
    EXPECT_EQ(get("[VCOM]", "digits"), "0123456789");
    std::string text = root_.read(kBoardIni);
    text.replace(text.find("0123456789"), 10, "9876543210");
    root_.write(kBoardIni, text);
    EXPECT_EQ(get("[VCOM]", "digits"), "9876543210");
    root_.write(kBoardIni, "[VCOM]\ndigits = 1\n");
    EXPECT_EQ(get("[VCOM]", "digits"), "1");
    std::remove(root_.path(kBoardIni).c_str());
    EXPECT_EQ(get("[VCOM]", "digits"), "<none>");
}

TEST_F(ConfigFile, AFileThatCannotBeTrustedGivesNoValueAndOneErrorNamingFileAndCause)
{
    const std::string file = root_.path(kBoardIni);
    // inih would read the tail of this comment as a line of its own.
    const std::string longComment = "[VCOM]\nTypeIdx = 1\n# " + std::string(190, '-') + "\n" +
                                    "# " + std::string(196, '-') + "TypeIdx = 4\n";
    const struct {
        bool directory;
        bool readable;
        std::string error;
    } cases[] = {
        {false, true, file + ": line 4 is longer than 199 bytes"},
        {false, false, file + ": cannot read: " + std::strerror(EACCES)},
        {true, true, file + ": cannot read: " + std::strerror(EISDIR)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        std::filesystem::remove_all(file);
        if (c.directory) std::filesystem::create_directories(file);
        if (!c.directory) root_.write(kBoardIni, longComment);
        ze::test::LogCapture log;
        const auto lookTwice = [this] {
            EXPECT_EQ(get("[VCOM]", "TypeIdx"), "<none>");
            EXPECT_EQ(get("[VCOM]", "TypeIdx"), "<none>");
        };
        if (c.readable) lookTwice();
        if (!c.readable) root_.withoutReadAccess(kBoardIni, lookTwice);
        ASSERT_EQ(log.bodies(QOR_DEBUG_LEVEL_ERROR).size(), 1u);
        EXPECT_EQ(log.bodies(QOR_DEBUG_LEVEL_ERROR)[0].rfind(c.error, 0), 0u)
            << log.bodies(QOR_DEBUG_LEVEL_ERROR)[0];
    }
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
