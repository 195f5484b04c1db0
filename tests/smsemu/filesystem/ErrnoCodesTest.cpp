// The file-system TSA's SMS code for each system error, by step, and what the
// agent's module makes of it: only a full disk and no memory may end a job;
// every other problem of one data set is a failure of that data set alone.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "KXSMSErr.h"
#include "filesystem/ErrnoCodes.h"

namespace {

using smsemu::FsStep;

struct Row {
    FsStep step;
    int error;
    CCODE code;
};

const char *stepName(FsStep step)
{
    switch (step) {
    case FsStep::Open:
        return "open";
    case FsStep::Read:
        return "read";
    case FsStep::List:
        return "list";
    case FsStep::Create:
        return "create";
    case FsStep::Write:
        return "write";
    case FsStep::SetInfo:
        return "set-info";
    }
    return "?";
}

const Row rows[] = {
    {FsStep::Open, EACCES, NWSMTS_NO_SEARCH_PRIVILEGES},    {FsStep::Open, EPERM, NWSMTS_NO_SEARCH_PRIVILEGES},
    {FsStep::Open, ENOENT, NWSMTS_NO_DATA_SETS_FOUND},      {FsStep::Open, ELOOP, NWSMTS_INVALID_PATH},
    {FsStep::Open, ENOTDIR, NWSMTS_INVALID_PATH},           {FsStep::Open, EBUSY, NWSMTS_DATA_SET_IN_USE},
    {FsStep::Open, ETXTBSY, NWSMTS_DATA_SET_IN_USE},        {FsStep::Open, EIO, NWSMTS_OPEN_ERROR},
    {FsStep::Open, ENOMEM, NWSMTS_OUT_OF_MEMORY},           {FsStep::Read, EIO, NWSMTS_READ_ERROR},
    {FsStep::Read, EACCES, NWSMTS_NO_SEARCH_PRIVILEGES},    {FsStep::List, EACCES, NWSMTS_NO_SEARCH_PRIVILEGES},
    {FsStep::List, EIO, NWSMTS_SCAN_FILE_ENTRY_ERR},        {FsStep::List, EMFILE, NWSMTS_SCAN_FILE_ENTRY_ERR},
    {FsStep::Create, EACCES, NWSMTS_CANT_CREATE_DIR_ENTRY}, {FsStep::Create, EPERM, NWSMTS_CANT_CREATE_DIR_ENTRY},
    {FsStep::Create, EROFS, NWSMTS_CANT_CREATE_DIR_ENTRY},  {FsStep::Create, ENOSPC, NWSMTS_CANT_CREATE_FILE},
    {FsStep::Create, EDQUOT, NWSMTS_CANT_CREATE_FILE},      {FsStep::Create, EEXIST, NWSMTS_DATA_SET_ALREADY_EXISTS},
    {FsStep::Create, ENAMETOOLONG, NWSMTS_INVALID_PATH},    {FsStep::Create, EMLINK, NWSMTS_WRITE_ERROR},
    {FsStep::Write, ENOSPC, NWSMTS_OUT_OF_DISK_SPACE},      {FsStep::Write, EDQUOT, NWSMTS_OUT_OF_DISK_SPACE},
    {FsStep::Write, EACCES, NWSMTS_CANT_CREATE_DIR_ENTRY},  {FsStep::Write, EIO, NWSMTS_WRITE_ERROR},
    {FsStep::SetInfo, EPERM, NWSMTS_NO_SEARCH_PRIVILEGES},  {FsStep::SetInfo, EROFS, NWSMTS_CANT_CREATE_DIR_ENTRY},
    {FsStep::SetInfo, EINVAL, NWSMTS_WRITE_ERROR},          {FsStep::SetInfo, ENOSPC, NWSMTS_OUT_OF_DISK_SPACE},
};

TEST(ErrnoCodes, EachErrorHasTheCodeOfItsStep)
{
    for (const Row &row : rows)
        EXPECT_EQ(smsemu::errnoCode(row.step, row.error), row.code)
            << stepName(row.step) << " " << strerrordesc_np(row.error);
}

// The module's verdict on an SMS code, from its exported tables.
bool endsTheJob(CCODE code, std::string &why)
{
    for (const KXSMS_SMS_ERROR *sms = KXSMS_SMSTargetServiceErrors; sms->smsCode != 0; ++sms) {
        if (sms->smsCode != code)
            continue;
        for (const KXSMS_ERROR *module = KXSMSErrors; module->code != 0; ++module)
            if (module->code == sms->moduleCode) {
                why = std::string(sms->message) + " -> " + module->message;
                return module->fatal;
            }
    }
    why = "not in the tables";
    return false;
}

TEST(ErrnoCodes, OnlyAFullDiskOrNoMemoryEndsTheJob)
{
    const FsStep steps[] = {FsStep::Open, FsStep::Read, FsStep::List, FsStep::Create, FsStep::Write, FsStep::SetInfo};
    for (FsStep step : steps)
        for (int error = 1; error < 134; ++error) {
            std::string why;
            const CCODE code = smsemu::errnoCode(step, error);
            const bool expected = error == ENOSPC || error == EDQUOT || error == ENOMEM;
            EXPECT_EQ(endsTheJob(code, why), expected)
                << stepName(step) << " " << strerrordesc_np(error) << ": " << why;
            EXPECT_NE(why, "not in the tables") << stepName(step) << " " << strerrordesc_np(error);
        }
}

} // namespace
