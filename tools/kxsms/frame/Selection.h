// Which data sets a job takes: the names given (a member at or below one of
// them) less what --exclude leaves out. An exclude is an exact name, or a
// shell pattern (fnmatch: '*', '?', '[...]'); as tar takes them, a pattern
// without a separator matches any one component of a name ("*.o", "cache"),
// one with a separator the whole name ("/srv/cache/*"). A name is left out
// when it or any of its parents is, so a parent that matches takes its
// subtree with it. A directory name's "[Root]" is taken literally.
#ifndef KXSMS_TOOLS_SELECTION_H
#define KXSMS_TOOLS_SELECTION_H

#include <string>
#include <string_view>
#include <vector>

#include "KXSMS.h"

namespace kxsms {

// True when the text holds a character that makes it a shell pattern.
bool isPattern(std::string_view text);

class Selection {
public:
    // paths: the names to take (none: everything); on the file system a name
    // without its leading '/' is taken as if it had one (tar's members have
    // none). excludes: exact names and patterns.
    Selection(const std::vector<std::string> &paths, const std::vector<std::string> &excludes, KXSMS_TSA_TYPE tsa);

    // True when the name is taken: at or below a path given, and not excluded.
    // Notes which paths took something.
    bool takes(std::string_view name);
    // True when an exclude leaves the name (or one of its parents) out.
    bool excluded(std::string_view name) const;
    // The excludes that are exact names (normalized): a backup gives them
    // to the module's selection list, so that the TSA skips their subtrees.
    const std::vector<std::string> &exactExcludes() const { return exact_; }
    bool hasPatterns() const { return !patterns_.empty() || !componentPatterns_.empty(); }

    // The paths given that took nothing, as given.
    std::vector<std::string> unused() const;

private:
    bool excludedWhole(std::string_view name) const;

    KXSMS_TSA_TYPE tsa_;
    std::vector<std::string> given_;
    std::vector<std::string> paths_;
    std::vector<bool> used_;
    std::vector<std::string> exact_;
    std::vector<std::string> patterns_;          // with a separator: the whole name
    std::vector<std::string> componentPatterns_; // without: one component
};

} // namespace kxsms

#endif
