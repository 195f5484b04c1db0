// KXPlatformInfo and KXPI_Focus: INI lookups with and without focus, number
// syntax, bounded strings, a file that changes or is missing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "KxLib.h"
#include "Files.h"
#include "TempDir.h"

namespace {

const char *const kConfig = "; comment\n"
                            "# another comment\n"
                            "top = 1\n"
                            "[Kelvane]\n"
                            "nIgnoreSMSError = 5\n"
                            "name = plain value\n"
                            "hexLower = 0x1f\n"
                            "   Spaced   =   0X10   \n"
                            "text = keep ; and # inside\n"
                            "notnum = 3\n"
                            "twice = 1\n"
                            "twice = 2\n"
                            "no equals sign here\n"
                            "\n"
                            "[inst1/Kelvane]\n"
                            "nIgnoreSMSError = 7\n"
                            "notnum = abc\n"
                            "name = focused value\n"
                            "[ other ]\n"
                            "NIGNORESMSERROR = 9\n"
                            "[broken\n"
                            "nIgnoreSMSError = 11\n";

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::writeFile(m_path, kConfig);
        setenv("KXLIB_CONFIG", m_path.c_str(), 1);
    }
    void TearDown() override { unsetenv("KXLIB_CONFIG"); }

    testsupport::TempDir m_dir{"kxlib"};
    std::string m_path = m_dir / "kxlib.conf";
};

struct NumberCase {
    const char *focus;
    const char *section;
    const char *key;
    bool found;
    unsigned long value;
};

void PrintTo(const NumberCase &c, std::ostream *os)
{
    *os << "focus=" << (c.focus ? c.focus : "(null)") << " [" << c.section << "] " << c.key;
}

class ConfigNumberTest : public ConfigTest, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(ConfigNumberTest, Lookup)
{
    const NumberCase &c = GetParam();
    KXPlatformInfo info;
    info.setFocus(c.focus);
    unsigned long value = 424242;
    EXPECT_EQ(info.getNumber(c.section, c.key, &value) != 0, c.found);
    EXPECT_EQ(value, c.found ? c.value : 424242u);
}

INSTANTIATE_TEST_SUITE_P(
    Sections, ConfigNumberTest,
    ::testing::Values(NumberCase{"", "Kelvane", "nIgnoreSMSError", true, 5},
                      NumberCase{"inst1", "Kelvane", "nIgnoreSMSError", true, 7},
                      NumberCase{"inst2", "Kelvane", "nIgnoreSMSError", true, 5},
                      NumberCase{nullptr, "kelvane", "NIGNORESMSERROR", true, 5},
                      NumberCase{"INST1", "Kelvane", "nIgnoreSMSError", true, 7},
                      NumberCase{"", "Kelvane", "hexLower", true, 31}, NumberCase{"", "Kelvane", "Spaced", true, 16},
                      NumberCase{"", "Kelvane", "twice", true, 2},
                      NumberCase{"", "other", "nIgnoreSMSError", true, 9}, // not 11: [broken is no header
                      NumberCase{"", "", "top", true, 1},
                      NumberCase{"inst1", "Kelvane", "notnum", true, 3}, // focused value is no number
                      NumberCase{"", "Kelvane", "name", false, 0}, NumberCase{"", "Kelvane", "missing", false, 0},
                      NumberCase{"", "Missing", "nIgnoreSMSError", false, 0},
                      NumberCase{"", "Kelvane", "no equals sign here", false, 0}));

struct SyntaxCase {
    const char *text;
    bool found;
    unsigned long value;
};

void PrintTo(const SyntaxCase &c, std::ostream *os)
{
    *os << '"' << c.text << '"';
}

class ConfigSyntaxTest : public ConfigTest, public ::testing::WithParamInterface<SyntaxCase> {};

TEST_P(ConfigSyntaxTest, NumberSyntax)
{
    testsupport::writeFile(m_path, std::string("[s]\nk = ") + GetParam().text + "\n");
    KXPlatformInfo info;
    unsigned long value = 77;
    EXPECT_EQ(info.getNumber("s", "k", &value) != 0, GetParam().found);
    EXPECT_EQ(value, GetParam().found ? GetParam().value : 77u);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, ConfigSyntaxTest,
    ::testing::Values(SyntaxCase{"0", true, 0}, SyntaxCase{"42", true, 42}, SyntaxCase{"010", true, 10},
                      SyntaxCase{"0x1F", true, 31}, SyntaxCase{"0XfF", true, 255},
                      SyntaxCase{"18446744073709551615", true, ~0UL}, SyntaxCase{"0xFFFFFFFFFFFFFFFF", true, ~0UL},
                      SyntaxCase{"18446744073709551616", false, 0}, SyntaxCase{"0x10000000000000000", false, 0},
                      SyntaxCase{"-1", false, 0}, SyntaxCase{"+1", false, 0}, SyntaxCase{"12abc", false, 0},
                      SyntaxCase{"0x", false, 0}, SyntaxCase{"0xg", false, 0}, SyntaxCase{"", false, 0},
                      SyntaxCase{"1 2", false, 0}));

TEST_F(ConfigTest, StringsAreCopiedBoundedWithFocusFirst)
{
    KXPlatformInfo info;
    char value[64];
    ASSERT_NE(info.getString("Kelvane", "text", value, sizeof value), 0);
    EXPECT_STREQ(value, "keep ; and # inside");
    ASSERT_NE(info.getString("Kelvane", "name", value, 6), 0);
    EXPECT_STREQ(value, "plain");
    info.setFocus("inst1");
    ASSERT_NE(info.getString("Kelvane", "name", value, sizeof value), 0);
    EXPECT_STREQ(value, "focused value");

    std::strcpy(value, "untouched");
    EXPECT_EQ(info.getString("Kelvane", "missing", value, sizeof value), 0);
    EXPECT_EQ(info.getString("Kelvane", "name", value, 0), 0);
    EXPECT_EQ(info.getString(nullptr, "name", value, sizeof value), 0);
    EXPECT_STREQ(value, "untouched");
    EXPECT_EQ(info.getNumber("Kelvane", "nIgnoreSMSError", nullptr), 0);
}

TEST_F(ConfigTest, OversizedFocusIsDroppedNotCut)
{
    KXPlatformInfo info;
    info.setFocus((std::string(300, 'i') + "inst1").c_str());
    unsigned long value = 0;
    ASSERT_NE(info.getNumber("Kelvane", "nIgnoreSMSError", &value), 0);
    EXPECT_EQ(value, 5u);
}

TEST_F(ConfigTest, EditTakesEffectAtNextLookup)
{
    KXPlatformInfo info;
    unsigned long value = 0;
    ASSERT_NE(info.getNumber("Kelvane", "nIgnoreSMSError", &value), 0);
    EXPECT_EQ(value, 5u);
    testsupport::writeFile(m_path, "[Kelvane]\nnIgnoreSMSError = 0x20\n");
    ASSERT_NE(info.getNumber("Kelvane", "nIgnoreSMSError", &value), 0);
    EXPECT_EQ(value, 32u);
    std::filesystem::remove(m_path);
    value = 1;
    EXPECT_EQ(info.getNumber("Kelvane", "nIgnoreSMSError", &value), 0);
    EXPECT_EQ(value, 1u);
}

TEST_F(ConfigTest, MissingOrUnreadableFileHasNoKeys)
{
    for (const std::string &path : {m_dir / "absent.conf", m_dir.path().string()}) {
        setenv("KXLIB_CONFIG", path.c_str(), 1);
        KXPlatformInfo info;
        unsigned long value = 0;
        char text[8];
        EXPECT_EQ(info.getNumber("Kelvane", "nIgnoreSMSError", &value), 0) << path;
        EXPECT_EQ(info.getString("Kelvane", "name", text, sizeof text), 0) << path;
    }
}

TEST_F(ConfigTest, ByteOrderMarkAndCarriageReturnsAreIgnored)
{
    testsupport::writeFile(m_path, "\xEF\xBB\xBF[Kelvane]\r\nnIgnoreSMSError = 4\r\n");
    KXPlatformInfo info;
    unsigned long value = 0;
    ASSERT_NE(info.getNumber("Kelvane", "nIgnoreSMSError", &value), 0);
    EXPECT_EQ(value, 4u);
}

TEST(Focus, ComesFromEnvironment)
{
    unsetenv("KXLIB_FOCUS");
    EXPECT_STREQ(KXPI_Focus::getFocus(), "");
    setenv("KXLIB_FOCUS", "inst1", 1);
    EXPECT_STREQ(KXPI_Focus::getFocus(), "inst1");
    unsetenv("KXLIB_FOCUS");
}

} // namespace
