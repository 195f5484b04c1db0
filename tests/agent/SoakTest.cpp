// Soak: one object backs up and restores a tree many times with a login and
// logout around each cycle; open descriptors and resident memory stay flat.
#include <cstdio>

#include "Harness.h"
#include "ProcessUsage.h"

namespace {

namespace fs = harness::fs;

using testsupport::c_Sanitized;
using testsupport::openDescriptors;
using testsupport::residentKiB;

class Soak : public harness::FileSystemTsa {
protected:
    void cycle()
    {
        KXPassword password("");
        std::string user = testsupport::currentUserName();
        ASSERT_EQ(object->Connect(KXSMS_TSA_FILE_SYSTEM, user.data(), &password), 0u);
        object->SetScanTraverse(true);
        std::vector<std::pair<std::string, std::string>> streams;
        for (const auto &entry : scanAll("/tree")) {
            std::string stream;
            ASSERT_EQ(backup(entry.name, stream), 0u) << entry.name;
            streams.emplace_back(entry.name, std::move(stream));
        }
        for (const auto &[name, stream] : streams)
            ASSERT_EQ(restore("/copy" + name.substr(5), stream), 0u) << name;
        object->Disconnect();
    }
};

TEST_F(Soak, TwoHundredCyclesStayFlat)
{
    object->Disconnect();
    for (int i = 0; i < 12; ++i)
        file("/tree/d" + std::to_string(i % 3) + "/f" + std::to_string(i), std::string(1000 * i + 1, 'x'));

    for (int i = 0; i < 20; ++i) // warm up: caches, allocator pools, the log file
        cycle();
    const size_t descriptors = openDescriptors();
    const size_t resident = residentKiB();
    for (int i = 20; i < 200; ++i) {
        cycle();
        if (HasFatalFailure())
            return;
    }
    const size_t descriptorsAfter = openDescriptors();
    const size_t residentAfter = residentKiB();
    std::printf("soak: 200 cycles; descriptors %zu -> %zu; resident %zu KiB -> %zu KiB\n", descriptors,
                descriptorsAfter, resident, residentAfter);
    EXPECT_EQ(descriptorsAfter, descriptors);
    if (!c_Sanitized) {
        EXPECT_LT(residentAfter, resident + 1024) << "resident memory grew by more than 1 MiB";
    }
    EXPECT_EQ(smsemuOpenConnections(), 0);
}

} // namespace
