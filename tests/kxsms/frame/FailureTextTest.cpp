// The SMS cause found in the module's log lines, and the failure text made of it.
#include <gtest/gtest.h>

#include "frame/FailureText.h"

namespace {

using kxsms::describeFailure;
using kxsms::lastSmsCause;
using kxsms::SmsCause;

struct Lines {
    const char *name;
    const char *log;
    std::optional<uint32_t> code; // expected; nullopt with text "" for no cause
    const char *text;
};

class CauseInLog : public ::testing::TestWithParam<Lines> {};

TEST_P(CauseInLog, IsFound)
{
    const Lines &c = GetParam();
    const std::optional<SmsCause> cause = lastSmsCause(c.log);
    if (std::string(c.text).empty()) {
        EXPECT_FALSE(cause.has_value()) << cause->text;
        return;
    }
    ASSERT_TRUE(cause.has_value());
    EXPECT_EQ(cause->code, c.code);
    EXPECT_EQ(cause->text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CauseInLog,
    ::testing::Values(
        Lines{"open",
              "2026-01-01T00:00:00Z 12 ERROR Open data set failed for /srv/x, (fffdffcf) No search privileges.\n"
              "2026-01-01T00:00:00Z 12 ERROR Failed to backup data set /srv/x, Insufficient access rights.\n",
              0xFFFDFFCFu, "No search privileges"},
        Lines{"comma_form", "t 1 ERROR NWSMTSScanDataSetBegin(/a) returned (fffdfff2), No data sets found.\n",
              0xFFFDFFF2u, "No data sets found"},
        Lines{"two_blanks", "t 1 ERROR Write data set failed for /a,  (fffdffb6) Unable to write to file.\n",
              0xFFFDFFB6u, "Unable to write to file"},
        Lines{"path_with_parentheses",
              "t 1 ERROR Open data set failed for /a/(beef) b/(x) c, (fffdfff5) Data set is "
              "currently in use.",
              0xFFFDFFF5u, "Data set is currently in use"},
        Lines{"scan_next_text_only", "t 1 ERROR Failed scan next data set, Unable to scan file entry.\n", std::nullopt,
              "Unable to scan file entry"},
        Lines{"last_wins",
              "t 1 ERROR Open data set failed for /a, (fffdfff2) No data sets found.\n"
              "t 1 ERROR Read data set failed for /b, (fffdffc6) Error reading the file.\n",
              0xFFFDFFC6u, "Error reading the file"},
        Lines{"unknown_code", "t 1 ERROR Open data set failed for /a, (1234) Unknown SMS error - 0x1234.\n", 0x1234u,
              "Unknown SMS error - 0x1234"},
        Lines{"none", "t 1 ERROR Invalid path in KXSMSBeginRestore(), /a.\nt 1 DEBUG Putting /a  (2 16 / /)\n",
              std::nullopt, ""},
        Lines{"empty", "", std::nullopt, ""}),
    [](const ::testing::TestParamInfo<Lines> &tested) { return std::string(tested.param.name); });

TEST(FailureText, ModuleMessageThenTheTsaText)
{
    EXPECT_EQ(describeFailure("Failed to open data", SmsCause{0xFFFDFFCCu, "Open file error"}),
              "Failed to open data (Open file error)");
    EXPECT_EQ(describeFailure("Unknown SMS error", SmsCause{0xFFFDFFF8u, "Data set name already exists"}),
              "Unknown SMS error (Data set name already exists)");
    EXPECT_EQ(describeFailure("Out of disk space", SmsCause{0xFFFDFFCAu, "Out of disk space"}), "Out of disk space")
        << "the same words once";
    EXPECT_EQ(describeFailure("Insufficient access rights", SmsCause{0xFFFDFFCFu, "No search privileges"}),
              "Insufficient access rights (No search privileges: Permission denied)");
    EXPECT_EQ(describeFailure("Bad arguments", std::nullopt), "Bad arguments");
    EXPECT_EQ(describeFailure("Failed to scan data", SmsCause{std::nullopt, "Unable to scan file entry"}),
              "Failed to scan data (Unable to scan file entry)");
}

} // namespace

namespace {

TEST(FailureText, ReportPositionsAreParentsOfWhatCameBefore)
{
    struct Case {
        const char *name, *earlier;
        bool report;
    };
    for (const Case &c :
         {Case{"/srv/d", "/srv/d", true}, Case{"/srv/d", "/srv/d/x/y", true}, Case{"/", "/a", true},
          Case{"DOM1:", "DOM1:dir", true}, Case{"DOM1:\\d", "DOM1:\\d\\x", true}, Case{"/srv/d", "/srv/dd", false},
          Case{"/srv/d/x", "/srv/d", false}, Case{"/srv/e", "/srv/d/e", false}, Case{"", "/a", false},
          Case{".OU=P.O=A.[Root]", ".CN=x.OU=P.O=A.[Root]", true}, Case{".OU=P.O=A.[Root]", ".OU=P.O=A.[Root]", true},
          Case{".OU=P.O=A.[Root]", ".CN=x\\.OU=P.O=A.[Root]", false}, Case{".OU=P.O=A.[Root]", ".O=A.[Root]", false},
          Case{".O=A.[Root]", ".CN=x.OU=P.O=A.[Root]", true}})
        EXPECT_EQ(kxsms::reportsOn(c.name, c.earlier), c.report) << c.name << " after " << c.earlier;
}

} // namespace
