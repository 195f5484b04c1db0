// Test harness for driving the module against the SMS stand-in: the
// environment of the stand-ins (log, trace, configuration, faults) in a
// temporary folder per test, and readers for the log and the trace.
#ifndef KXSMS_TESTS_AGENT_HARNESS_H
#define KXSMS_TESTS_AGENT_HARNESS_H

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "Environment.h"
#include "Files.h"
#include "KXSMS.h"
#include "StandInConfig.h"
#include "TempDir.h"
#include "requester/SmsEmuTest.h"

namespace harness {

namespace fs = std::filesystem;

// The environment of one test: the stand-ins write into a fresh folder.
class StandIns : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::clearStandInEnvironment();
        setenv("KXLIB_LOG", (dir / "kxlib.log").c_str(), 1);
        setenv("SMSEMU_TRACE", (dir / "trace.log").c_str(), 1);
        smsemuReset();
    }
    void TearDown() override
    {
        testsupport::clearStandInEnvironment();
        smsemuReset();
    }

    // Writes a stand-in configuration and makes it current.
    void useConfig(const std::string &toml)
    {
        testsupport::useStandInConfig(dir / "smsemu.toml", toml);
        smsemuReset();
    }
    // Makes SMS calls fail from now on; connections stay as they are.
    void useFaults(const std::string &faults)
    {
        setenv("SMSEMU_FAULTS", faults.c_str(), 1);
        smsemuSetFaults(faults.c_str());
    }
    // Log messages (the text after "<time> <pid> <LEVEL> ").
    std::vector<std::string> logMessages(const std::string &level = "") const
    {
        std::vector<std::string> messages;
        for (const std::string &line : testsupport::readLines(dir / "kxlib.log")) {
            std::istringstream fields(line);
            std::string time, pid, lineLevel;
            fields >> time >> pid >> lineLevel;
            if (!level.empty() && lineLevel != level)
                continue;
            std::string message;
            std::getline(fields, message);
            if (!message.empty() && message[0] == ' ')
                message.erase(0, 1);
            messages.push_back(message);
        }
        return messages;
    }
    bool logged(const std::string &message, const std::string &level = "") const
    {
        for (const std::string &m : logMessages(level))
            if (m == message)
                return true;
        return false;
    }
    void clearLog() const { testsupport::writeFile(dir / "kxlib.log", ""); }
    // SMS calls in order: the function names only, or whole lines.
    std::vector<std::string> traceCalls() const
    {
        std::vector<std::string> calls;
        for (const std::string &line : testsupport::readLines(dir / "trace.log"))
            calls.push_back(line.substr(0, line.find('(')));
        return calls;
    }
    std::vector<std::string> traceLines() const { return testsupport::readLines(dir / "trace.log"); }
    void clearTrace() const { testsupport::writeFile(dir / "trace.log", ""); }
    size_t countCalls(const std::string &function) const
    {
        size_t n = 0;
        for (const std::string &call : traceCalls())
            n += call == function;
        return n;
    }

    testsupport::TempDir dir;
};

} // namespace harness

#endif

namespace harness {

// A logged-in object on a file-system TSA whose resource "/" is dir/data.
class FileSystemTsa : public StandIns {
protected:
    void SetUp() override
    {
        StandIns::SetUp();
        fs::create_directories(data());
        useConfig(fsConfig());
        object = CreateKXSMS();
        KXPassword password("");
        std::string user = testsupport::currentUserName();
        ASSERT_EQ(object->Connect(KXSMS_TSA_FILE_SYSTEM, user.data(), &password), 0u);
        clearLog();
        clearTrace();
    }
    void TearDown() override
    {
        DestroyKXSMS(object);
        StandIns::TearDown();
    }
    virtual std::string fsConfig() const
    {
        return testsupport::fileSystemTsaConfig(data(), dir / "archive-state.sqlite");
    }
    std::string data() const { return dir / "data"; }
    std::string real(const std::string &name) const { return data() + name; }
    void file(const std::string &name, const std::string &content = "") const
    {
        testsupport::writeFile(real(name), content);
    }
    void folder(const std::string &name) const { fs::create_directories(real(name)); }

    struct Entry {
        std::string name, child;
        bool parent = false, archive = false;
        long created = 0, modified = 0, accessed = 0;
        unsigned long long size = 0;
    };
    // Runs a whole scan from path; fails the test on an error.
    std::vector<Entry> scanAll(const char *path, unsigned *codeOut = nullptr)
    {
        std::vector<Entry> entries;
        unsigned sequence = 0;
        std::string start = path != nullptr ? path : "";
        for (int guard = 0; guard < 100000; ++guard) {
            Entry e;
            char name[1024] = {}, child[1024] = {};
            bool end = false;
            const unsigned code =
                object->Scan(path != nullptr ? start.data() : nullptr, &sequence, name, sizeof name, child,
                             sizeof child, &e.parent, &e.archive, &e.created, &e.modified, &e.accessed, &e.size, &end);
            if (code != 0 || end) {
                if (codeOut != nullptr)
                    *codeOut = code;
                else
                    EXPECT_EQ(code, 0u);
                EXPECT_EQ(sequence, 0u);
                break;
            }
            e.name = name;
            e.child = child;
            entries.push_back(e);
        }
        return entries;
    }
    static std::vector<std::string> namesOf(const std::vector<Entry> &entries)
    {
        std::vector<std::string> names;
        for (const Entry &e : entries)
            names.push_back(e.name);
        return names;
    }
    // Backs up one data set by path into a byte string.
    unsigned backup(const std::string &name, std::string &stream, unsigned blockSize = 65536,
                    unsigned *nameSpace = nullptr)
    {
        unsigned sequence = 0;
        std::string path = name;
        unsigned ns = 0;
        unsigned code = object->BeginBackup(path.data(), &sequence, nullptr, nullptr, nullptr, nullptr, &ns, false);
        if (nameSpace != nullptr)
            *nameSpace = ns;
        if (code != 0)
            return code;
        std::vector<unsigned char> block(blockSize);
        stream.clear();
        for (;;) {
            unsigned got = 0;
            bool end = false;
            code = object->Backup(&sequence, block.data(), blockSize, &got, &end);
            if (code != 0)
                return code;
            stream.append(reinterpret_cast<char *>(block.data()), got);
            if (end)
                break;
        }
        EXPECT_EQ(sequence, 0u);
        return 0;
    }
    // Restores a stream under a name (or the stream's own name).
    unsigned restore(const std::string &name, const std::string &stream, bool useNewName = true, bool overwrite = true)
    {
        std::string path = name;
        unsigned code = object->BeginRestore(path.data(), 2, overwrite, KXSMS_TRUSTEE_OWNER, false, false, useNewName);
        if (code != 0)
            return code;
        for (size_t at = 0; at < stream.size(); at += 65536) {
            std::string block = stream.substr(at, 65536);
            code = object->Restore(reinterpret_cast<unsigned char *>(block.data()), block.size());
            if (code != 0) {
                object->EndRestore();
                return code;
            }
        }
        return object->EndRestore();
    }
    void expectNothingOpen() const
    {
        EXPECT_EQ(smsemuOpenScans(), 0);
        EXPECT_EQ(smsemuOpenDataSets(), 0);
    }

    CKXSMS *object = nullptr;
};

} // namespace harness
