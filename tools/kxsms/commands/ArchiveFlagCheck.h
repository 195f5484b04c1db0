// The check that ends a backup with --clear-archive: the module does not
// say when clearing an archive flag failed (it ignores the TSA's answer),
// so kxsms asks, once, whether the last data set it saved now reads clear.
#ifndef KXSMS_TOOLS_ARCHIVEFLAGCHECK_H
#define KXSMS_TOOLS_ARCHIVEFLAGCHECK_H

#include <string>
#include <string_view>

#include "KXSMS.h"
#include "frame/Progress.h"

namespace kxsms {

// Which saved data set the check asks about: the last one that held data
// (size above 0), else the last one saved. Symbolic links and empty files
// report size 0; the TSA's extended-attribute way can never clear a link's
// flag, so links are not asked about when anything else was saved.
class LastSaved {
public:
    void saved(std::string_view name, unsigned long long size)
    {
        if (size > 0 || !withData_)
            name_.assign(name);
        withData_ = withData_ || size > 0;
    }
    const std::string &name() const { return name_; }

private:
    std::string name_;
    bool withData_ = false;
};

// One ScanDataSetInfo of `name` (nothing when it is empty): true when its
// archive flag reads clear. Otherwise the warning is written and false
// returned (the job then exits 1).
bool archiveFlagsCleared(CKXSMS &kx, const std::string &name, NameStyle style, Progress &progress);

// What the module logged while a TSA took clears into effect (a logout, a
// look at a directory): false, with the warning, when the TSA said it could
// not record them.
bool clearsRecorded(const std::string &log, Progress &progress);

} // namespace kxsms

#endif
