// Soak: one object backs up and restores a tree many times with a login and
// logout around each cycle; open descriptors and resident memory stay flat.
#include <dirent.h>

#include <cstdio>
#include <fstream>

#include "Harness.h"

namespace {

namespace fs = harness::fs;

size_t openDescriptors()
{
    size_t count = 0;
    for ([[maybe_unused]] const auto &entry : fs::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

size_t residentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoul(line.substr(6));
    return 0;
}

#if defined(__SANITIZE_ADDRESS__)
const bool c_Sanitized = true; // the allocator's quarantine grows resident memory on purpose
#else
const bool c_Sanitized = false;
#endif

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
