// Fault sweep: a workflow of login, scan, backup, restore and delete runs
// once to count its SMS calls, then once per call with that call failed.
// Every run must end cleanly: valid module codes, nothing left open in the
// stand-in after the logout, and restore targets untouched by a failed restore.
// (Leaks are LeakSanitizer's to find in the sanitizer build.)
#include <map>
#include <set>
#include <string>

#include "Harness.h"
#include "KXSMSErr.h"

namespace {

namespace fs = harness::fs;

// Release calls are not swept: their results are ignored by design, and a
// release that does nothing leaves what it should have released.
const std::set<std::string> c_NotSwept = {"NWSMFreeNameList",           "NWSMFreeString",   "NWSMReleaseTSA",
                                          "NWSMTSReleaseTargetService", "NWSMPackDateTime", "NWSMUnPackDateTime",
                                          "NWSMStripEndSeparator"};

// The first code the workflow sees when a call fails with 0xFFFDFFB1
// ("Internal error", which converts to KXSMS_ERR_INTERNAL_SMS): the converted
// code where the operation passes the SMS failure on, the operation's own code
// where it has one, and 0 where the failure is ignored.
const std::map<std::string, std::set<unsigned>> c_FirstCode = {
    {"NWSMListTSAs", {KXSMS_ERR_TSA_NOT_LOADED}},
    {"NWSMConnectToTSA", {KXSMS_ERR_CONNECT_FAILED}},
    {"NWSMTSListTargetServices", {KXSMS_ERR_CONNECT_FAILED}},
    {"NWSMTSConnectToTargetService", {KXSMS_ERR_LOGIN_FAILED}},
    {"NWSMTSListTSResources", {KXSMS_ERR_CONNECT_FAILED}},
    {"NWSMTSSetRestoreOptions", {0}},
    {"NWSMTSGetSupportedNameTypes", {0}},
    {"NWSMTSConfigureTargetService", {0}},
    {"NWSMTSScanSupportedNameSpaces", {KXSMS_ERR_INTERNAL_SMS, 0}}, // 0 once a name space was reported
    {"NWSMTSGetNameSpaceTypeInfo", {KXSMS_ERR_INTERNAL_SMS}},
    {"NWSMPutOneName", {KXSMS_ERR_SCAN_FAILED, KXSMS_ERR_BAD_ARGUMENTS}}, // a scan begin, a restore's new name
    {"NWSMTSScanDataSetBegin", {KXSMS_ERR_INTERNAL_SMS}},
    {"NWSMTSScanNextDataSet", {KXSMS_ERR_SCAN_FAILED}},
    {"NWSMGetDataSetName", {0}}, // any name of the list serves
    {"NWSMTSOpenDataSetForBackup", {KXSMS_ERR_INTERNAL_SMS}},
    {"NWSMTSReadDataSet", {KXSMS_ERR_INTERNAL_SMS}},
    {"NWSMTSCloseDataSet", {0, KXSMS_ERR_INTERNAL_SMS}}, // ignored after a backup, reported after a restore
    {"NWSMTSScanDataSetEnd", {0}},
    {"NWSMTSOpenDataSetForRestore", {KXSMS_ERR_INTERNAL_SMS}},
    {"NWSMTSWriteDataSet", {KXSMS_ERR_INTERNAL_SMS}},
    {"NWSMTSDeleteDataSet", {KXSMS_ERR_INTERNAL_SMS}},
};

class FaultSweep : public harness::StandIns {
protected:
    void SetUp() override
    {
        StandIns::SetUp();
        testsupport::writeFile(dir / "data/src/a.txt", std::string(70000, 'a'));
        testsupport::writeFile(dir / "data/src/sub/b.txt", "b");
        fs::create_directories(dir / "data/src/empty");
        useConfig(testsupport::fileSystemTsaConfig(dir / "data", ""));
    }

    // Targets of the restores, with what they hold before the run.
    void resetTargets()
    {
        fs::remove_all(dir / "data/dst");
        testsupport::writeFile(dir / "data/dst/a.txt", "old a");
        testsupport::writeFile(dir / "data/dst/sub/b.txt", "old b");
        testsupport::writeFile(dir / "data/dst/remove.me", "x");
    }

    void expectValid(unsigned code, const std::string &what)
    {
        if (code != 0 && firstCode == 0)
            firstCode = code;
        if (code == 0 || code == 0xFFFFFFFFu)
            return;
        bool known = false;
        for (const KXSMS_ERROR *row = KXSMSErrors; row->code != 0; ++row)
            known |= row->code == code;
        EXPECT_TRUE(known) << what << " returned " << code;
    }

    // The workflow; returns the number of operations that failed.
    int workflow(const std::string &label)
    {
        firstCode = 0;
        int failures = 0;
        CKXSMS *object = CreateKXSMS();
        KXPassword password("");
        std::string user = testsupport::currentUserName();
        unsigned code = object->Connect(KXSMS_TSA_FILE_SYSTEM, user.data(), &password);
        expectValid(code, label + " Connect");
        if (code == 0) {
            object->SetScanTraverse(true);
            // Scan, and back up each data set at the scan position.
            std::vector<std::pair<std::string, std::string>> streams;
            unsigned sequence = 0;
            char start[] = "/src";
            std::vector<unsigned char> block(8192);
            for (int guard = 0; guard < 100; ++guard) {
                char name[1024];
                bool end = false;
                code = object->Scan(start, &sequence, name, sizeof name, nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, &end);
                expectValid(code, label + " Scan");
                if (code != 0 || end)
                    break;
                code = object->BeginBackupNoScan(name, &sequence, false);
                expectValid(code, label + " BeginBackupNoScan");
                if (code != 0) {
                    ++failures;
                    continue;
                }
                std::string stream;
                for (;;) {
                    unsigned got = 0;
                    bool last = false;
                    code = object->Backup(&sequence, block.data(), static_cast<unsigned>(block.size()), &got, &last);
                    expectValid(code, label + " Backup");
                    if (code != 0) {
                        ++failures;
                        stream.clear();
                        break;
                    }
                    stream.append(reinterpret_cast<char *>(block.data()), got);
                    if (last)
                        break;
                }
                if (!stream.empty())
                    streams.emplace_back(name, stream);
            }
            object->AbortScan(&sequence);

            // Restore each stream over the prepared targets.
            for (auto &[name, stream] : streams) {
                std::string target = "/dst" + name.substr(4);
                const std::string real = dir / ("data" + target);
                const bool existed = fs::is_regular_file(real);
                const std::string before = existed ? testsupport::readFile(real) : "";
                code = object->BeginRestore(target.data(), 2, true, KXSMS_TRUSTEE_OWNER, false, false, true);
                expectValid(code, label + " BeginRestore " + target);
                if (code == 0) {
                    for (size_t at = 0; at < stream.size() && code == 0; at += 8192) {
                        std::string piece = stream.substr(at, 8192);
                        code = object->Restore(reinterpret_cast<unsigned char *>(piece.data()), piece.size());
                        expectValid(code, label + " Restore " + target);
                    }
                    const unsigned end = object->EndRestore();
                    expectValid(end, label + " EndRestore " + target);
                    if (code == 0)
                        code = end;
                }
                if (code != 0) {
                    ++failures;
                    if (existed) {
                        EXPECT_EQ(testsupport::readFile(real), before)
                            << label << ": failed restore changed " << target;
                    }
                }
            }

            char removal[] = "/dst/remove.me";
            code = object->DeleteDataSet(removal);
            expectValid(code, label + " DeleteDataSet");
            failures += code != 0;
            object->Disconnect();
        } else {
            ++failures;
        }
        EXPECT_EQ(smsemuOpenConnections(), 0) << label;
        EXPECT_EQ(smsemuOpenScans(), 0) << label;
        EXPECT_EQ(smsemuOpenDataSets(), 0) << label;
        DestroyKXSMS(object);
        return failures;
    }

    unsigned firstCode = 0;
};

TEST_F(FaultSweep, EveryCallFailedOnceEndsCleanly)
{
    resetTargets();
    clearTrace();
    ASSERT_EQ(workflow("clean run"), 0);
    EXPECT_EQ(testsupport::readFile(dir / "data/dst/a.txt"), std::string(70000, 'a'));
    const std::vector<std::string> calls = traceCalls();
    ASSERT_GT(calls.size(), 50u);

    std::map<std::string, unsigned> ordinal;
    size_t swept = 0;
    for (const std::string &function : calls) {
        const unsigned n = ++ordinal[function];
        if (c_NotSwept.count(function) != 0)
            continue;
        resetTargets();
        const std::string fault = function + "@" + std::to_string(n) + "=0xFFFDFFB1";
        useFaults(fault);
        workflow(fault);
        useFaults("");
        const auto expected = c_FirstCode.find(function);
        if (expected == c_FirstCode.end())
            ADD_FAILURE() << function << " is called by the workflow but has no expected outcome";
        else
            EXPECT_EQ(expected->second.count(firstCode), 1u) << fault << ": first code " << firstCode;
        ++swept;
        if (HasFailure())
            break; // one broken run is enough to read
    }
    std::printf("fault sweep: %zu SMS calls in the workflow, %zu runs with one call failed\n", calls.size(), swept);
}

} // namespace
