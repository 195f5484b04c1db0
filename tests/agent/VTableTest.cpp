// The virtual table is the host interface: its order must never change. Two
// checks: each operation's slot index as the ABI encodes it, and a host-side
// interface written independently of KXSMS.h, called on a real object.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "KXSMS.h"
#include "KXSMSErr.h"
#include "Peek.h"

// The interface as a host that never saw KXSMS.h would declare it. It has
// external linkage so that the compiler cannot assume it knows every class
// derived from it (and devirtualise calls to its pure functions).
struct HostInterface {
    virtual ~HostInterface() = default;
    virtual unsigned Connect(int type, char *user, void *password) = 0;
    virtual void Disconnect() = 0;
    virtual int SaveErrorLog(char *path) = 0;
    virtual void SetScanStartTime(long time) = 0;
    virtual unsigned Scan(char *, unsigned *, char *, unsigned long, char *, unsigned long, bool *, bool *, long *,
                          long *, long *, unsigned long long *, bool *) = 0;
    virtual void AbortScan(unsigned *sequence) = 0;
    virtual void SetClearArchiveBitFlag(bool clear) = 0;
    virtual unsigned BeginBackup(char *, unsigned *, bool *, long *, long *, unsigned long long *, unsigned *,
                                 bool) = 0;
    virtual unsigned BeginBackupNoScan(char *, unsigned *, bool) = 0;
    virtual unsigned Backup(unsigned *, unsigned char *, unsigned, unsigned *, bool *) = 0;
    virtual void AbortBackup(unsigned *) = 0;
    virtual unsigned BeginRestore(char *, unsigned, bool, int, bool, bool, bool) = 0;
    virtual unsigned Restore(unsigned char *, unsigned long) = 0;
    virtual unsigned EndRestore() = 0;
    virtual unsigned DeleteDataSet(char *) = 0;
    virtual int GetTSAType() = 0;
    virtual unsigned GetTSAConnection() = 0;
    virtual bool EnableCachingMode(bool) = 0;
    virtual unsigned SeparateChildFromParent(char *, char *, unsigned long, char *, unsigned long) = 0;
    virtual unsigned ConcatenateParentAndChild(char *, char *, char *, unsigned long) = 0;
    virtual unsigned IsDataSetParent(char *, bool *) = 0;
    virtual unsigned ScanDataSetInfo(char *, char *, unsigned, char *, unsigned, bool *, bool *, long *, long *,
                                     unsigned long long *) = 0;
    virtual bool IsSpaceAvailable() = 0;
    virtual bool IsNameSpaceInstalled(unsigned, char *) = 0;
    virtual const char *GetOwningNameSpaceName(unsigned long) = 0;
    virtual bool IsUnicodePathsSupported() = 0;
    virtual void SetScanControl(void *) = 0;
    virtual void SetScanTraverse(bool) = 0;
    virtual void SetScanModifiedDateTimeRange(long, long) = 0;
    virtual unsigned AddScanFilter(char *) = 0;
    virtual unsigned EnableScanFilters() = 0;
    virtual void ClearScanFilters() = 0;
    virtual const char *GetErrorText(unsigned) = 0;
    virtual bool IsFatalError(unsigned) = 0;
    virtual unsigned GetTSAResources(std::vector<std::string> &) = 0;
};

namespace {

// A pointer to a virtual member function holds 1 + the byte offset of its slot.
template <typename F>
long slotOf(F function)
{
    struct {
        uintptr_t ptr;
        ptrdiff_t adjust;
    } representation;
    static_assert(sizeof function == sizeof representation);
    memcpy(&representation, &function, sizeof representation);
    if ((representation.ptr & 1) == 0)
        return -1; // not virtual
    return static_cast<long>((representation.ptr - 1) / sizeof(void *));
}

TEST(VirtualTable, OperationsSitInTheirFixedSlots)
{
    // Slots 0 and 1 are the complete-object and deleting destructors.
    EXPECT_EQ(slotOf(&CKXSMS::Connect), 2);
    EXPECT_EQ(slotOf(&CKXSMS::Disconnect), 3);
    EXPECT_EQ(slotOf(&CKXSMS::SaveErrorLog), 4);
    EXPECT_EQ(slotOf(&CKXSMS::SetScanStartTime), 5);
    EXPECT_EQ(slotOf(&CKXSMS::Scan), 6);
    EXPECT_EQ(slotOf(&CKXSMS::AbortScan), 7);
    EXPECT_EQ(slotOf(&CKXSMS::SetClearArchiveBitFlag), 8);
    EXPECT_EQ(slotOf(&CKXSMS::BeginBackup), 9);
    EXPECT_EQ(slotOf(&CKXSMS::BeginBackupNoScan), 10);
    EXPECT_EQ(slotOf(&CKXSMS::Backup), 11);
    EXPECT_EQ(slotOf(&CKXSMS::AbortBackup), 12);
    EXPECT_EQ(slotOf(&CKXSMS::BeginRestore), 13);
    EXPECT_EQ(slotOf(&CKXSMS::Restore), 14);
    EXPECT_EQ(slotOf(&CKXSMS::EndRestore), 15);
    EXPECT_EQ(slotOf(&CKXSMS::DeleteDataSet), 16);
    EXPECT_EQ(slotOf(&CKXSMS::GetTSAType), 17);
    EXPECT_EQ(slotOf(&CKXSMS::GetTSAConnection), 18);
    EXPECT_EQ(slotOf(&CKXSMS::EnableCachingMode), 19);
    EXPECT_EQ(slotOf(&CKXSMS::SeparateChildFromParent), 20);
    EXPECT_EQ(slotOf(&CKXSMS::ConcatenateParentAndChild), 21);
    EXPECT_EQ(slotOf(&CKXSMS::IsDataSetParent), 22);
    EXPECT_EQ(slotOf(&CKXSMS::ScanDataSetInfo), 23);
    EXPECT_EQ(slotOf(&CKXSMS::IsSpaceAvailable), 24);
    EXPECT_EQ(slotOf(&CKXSMS::IsNameSpaceInstalled), 25);
    EXPECT_EQ(slotOf(&CKXSMS::GetOwningNameSpaceName), 26);
    EXPECT_EQ(slotOf(&CKXSMS::IsUnicodePathsSupported), 27);
    EXPECT_EQ(slotOf(&CKXSMS::SetScanControl), 28);
    EXPECT_EQ(slotOf(&CKXSMS::SetScanTraverse), 29);
    EXPECT_EQ(slotOf(&CKXSMS::SetScanModifiedDateTimeRange), 30);
    EXPECT_EQ(slotOf(&CKXSMS::AddScanFilter), 31);
    EXPECT_EQ(slotOf(&CKXSMS::EnableScanFilters), 32);
    EXPECT_EQ(slotOf(&CKXSMS::ClearScanFilters), 33);
    EXPECT_EQ(slotOf(&CKXSMS::GetErrorText), 34);
    EXPECT_EQ(slotOf(&CKXSMS::IsFatalError), 35);
    EXPECT_EQ(slotOf(&CKXSMS::GetTSAResources), 36);
}

TEST(VirtualTable, AnIndependentHostInterfaceReachesEachOperation)
{
    CKXSMS *object = CreateKXSMS();
    ASSERT_NE(object, nullptr);
    HostInterface *host = reinterpret_cast<HostInterface *>(object);
    char name[] = "/x";
    char empty[] = "";
    unsigned sequence = 5;
    bool flag = false;
    unsigned char block[16] = {};

    EXPECT_EQ(host->Connect(1, nullptr, nullptr), KXSMS_ERR_BAD_ARGUMENTS);
    host->Disconnect();
    EXPECT_EQ(host->SaveErrorLog(nullptr), 0);
    host->SetScanStartTime(987654);
    EXPECT_EQ(object->GetScanStartTime(), 987654);
    EXPECT_EQ(host->Scan(name, &sequence, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &flag),
              KXSMS_ERR_NO_CONNECTION);
    host->AbortScan(&sequence);
    EXPECT_EQ(sequence, 5u);
    host->SetClearArchiveBitFlag(true);
    EXPECT_TRUE(Peek::clearArchiveBit(object));
    EXPECT_EQ(host->BeginBackup(name, &sequence, nullptr, nullptr, nullptr, nullptr, nullptr, false),
              KXSMS_ERR_NO_CONNECTION);
    EXPECT_EQ(host->BeginBackupNoScan(name, &sequence, false), KXSMS_ERR_NO_CONNECTION);
    EXPECT_EQ(host->Backup(nullptr, block, 16, nullptr, nullptr), KXSMS_ERR_BAD_ARGUMENTS);
    host->AbortBackup(&sequence);
    EXPECT_EQ(host->BeginRestore(name, 0, true, 1, false, false, false), KXSMS_ERR_NO_CONNECTION);
    EXPECT_EQ(host->Restore(nullptr, 0), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_EQ(host->EndRestore(), 0u);
    EXPECT_EQ(host->DeleteDataSet(name), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_EQ(host->GetTSAType(), 1);
    EXPECT_EQ(host->GetTSAConnection(), 0xFFFFFFFFu);
    EXPECT_FALSE(host->EnableCachingMode(true));
    EXPECT_EQ(host->SeparateChildFromParent(nullptr, nullptr, 0, nullptr, 0), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_EQ(host->ConcatenateParentAndChild(nullptr, nullptr, nullptr, 0), KXSMS_ERR_BAD_ARGUMENTS);
    flag = false;
    EXPECT_EQ(host->IsDataSetParent(empty, &flag), 0u);
    EXPECT_TRUE(flag);
    EXPECT_EQ(host->ScanDataSetInfo(name, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
              KXSMS_ERR_NO_CONNECTION);
    EXPECT_TRUE(host->IsSpaceAvailable());
    EXPECT_TRUE(host->IsNameSpaceInstalled(77, nullptr));
    EXPECT_STREQ(host->GetOwningNameSpaceName(258), "NFS");
    EXPECT_TRUE(host->IsUnicodePathsSupported());
    NWSM_SCAN_CONTROL control;
    memset(&control, 0x5A, sizeof control);
    host->SetScanControl(&control);
    EXPECT_EQ(memcmp(object->GetScanControl(), &control, sizeof control), 0);
    host->SetScanTraverse(true);
    EXPECT_EQ(object->GetScanControl()->scanType, 0u);
    host->SetScanModifiedDateTimeRange(0, 0);
    EXPECT_EQ(object->GetScanControl()->firstModifiedDateAndTime, 0u);
    EXPECT_EQ(object->GetScanControl()->lastModifiedDateAndTime, 0u);
    EXPECT_EQ(host->AddScanFilter(nullptr), KXSMS_ERR_BAD_ARGUMENTS);
    EXPECT_EQ(host->EnableScanFilters(), 0u);
    host->ClearScanFilters();
    EXPECT_STREQ(host->GetErrorText(KXSMS_ERR_PROGRAM_ERROR),
                 "Possible program error - Contact Tarnwell Systems, Inc.");
    EXPECT_FALSE(host->IsFatalError(KXSMS_ERR_DATA_NOT_FOUND));
    std::vector<std::string> names{"kept"};
    EXPECT_EQ(host->GetTSAResources(names), 0xFFFFFFFFu);
    EXPECT_EQ(names.size(), 1u);

    DestroyKXSMS(object);
}

TEST(Lifecycle, NewObjectDefaults)
{
    CKXSMS *object = CreateKXSMS();
    EXPECT_EQ(object->GetTSAType(), KXSMS_TSA_FILE_SYSTEM);
    EXPECT_EQ(object->GetTSAConnection(), 0xFFFFFFFFu);
    ASSERT_NE(object->GetTSARoot(), nullptr);
    EXPECT_STREQ(object->GetTSARoot(), "");
    char volume[] = "VOL1:";
    EXPECT_FALSE(object->IsVolumeCDROM(volume));
    EXPECT_FALSE(object->IsVolumeCDROM(nullptr));
    EXPECT_EQ(object->GetScanStartTime(), 0);
    EXPECT_EQ(Peek::priorityNameSpace(object), 0);
    EXPECT_STREQ(Peek::currentResource(object), "");
    EXPECT_EQ(Peek::dataSetHandle(object), 0u);
    EXPECT_EQ(Peek::scanInformation(object), nullptr);
    EXPECT_EQ(Peek::selectionList(object), nullptr);
    DestroyKXSMS(object);
    DestroyKXSMS(nullptr); // does nothing
}

} // namespace
