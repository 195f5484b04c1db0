// The words of a failure line. The module returns its own codes, and its
// tables map many SMS codes to one of them ("Failed to open data"), so a line
// names the data set, the module's message and the TSA's own text for the SMS
// code behind it, which kxsms reads from the module's log (ModuleLog.h):
//   cannot back up /srv/x: Insufficient access rights (No search privileges: Permission denied)
#ifndef KXSMS_TOOLS_FAILURETEXT_H
#define KXSMS_TOOLS_FAILURETEXT_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kxsms {

// SMS codes kxsms words on its own.
constexpr uint32_t c_SmsNoSearchPrivileges = 0xFFFDFFCFu;
constexpr uint32_t c_SmsOverflow = 0xFFFDFFC8u;
constexpr uint32_t c_SmsNoDataSetsFound = 0xFFFDFFF2u; // at an open: gone since the scan gave it
constexpr uint32_t c_SmsDataSetInUse = 0xFFFDFFF5u;    // at a directory the scan stands on again: it changed

struct SmsCause {
    std::optional<uint32_t> code; // absent when the line gave the text alone
    std::string text;             // the TSA's text, without the final '.'
};

// The last SMS failure among these log lines: "... (%x) %s.", "... (%x), %s."
// or "Failed scan next data set, %s.".
std::optional<SmsCause> lastSmsCause(std::string_view lines);

// What the TSA said of the data set beyond its code, where it wrote it to
// the log (the stand-in's file-system TSA: `smsemu: "NAME": WHAT`): the
// WHATs of these lines, joined with "; ", or "" when there are none.
std::string tsaDetail(std::string_view lines);

// "<module message> (<TSA text>)": the TSA's text left out when there is
// none or it says the same; codes with a plain POSIX meaning say it too.
// A detail of the TSA's (tsaDetail) is the cause in its own words, and then
// the whole text.
std::string describeFailure(std::string_view moduleMessage, const std::optional<SmsCause> &cause,
                            std::string_view tsaWords = {});

// describeFailure of what the module logged during the failed call: the
// last SMS cause in it and the TSA's detail.
std::string failureWords(std::string_view moduleMessage, std::string_view log);

// Whether a parent a scan stands on reports on the contents of a directory
// given earlier: a scan gives parents before their children, so a parent
// named as the data set given last (earlier), or as one that holds it, stands
// there again to report what it could not give below it.
bool reportsOn(std::string_view name, std::string_view earlier);

} // namespace kxsms

#endif
