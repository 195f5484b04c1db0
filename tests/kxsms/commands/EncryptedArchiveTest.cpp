// Encrypted archives end to end: round trips with a passphrase (file,
// environment, terminal) and with write-only recipients, secrecy of names
// and contents, wrong and missing keys, every kind of tampering (each
// detected, what it did not touch restored, the exit status documented),
// chains and pipes.
#include <gtest/gtest.h>

#include "commands/KxsmsProgram.h"

#include <sys/stat.h>

namespace {

using namespace kxsms_test;

constexpr size_t c_SealedChunk = 65536 + 16;

class EncryptedArchive : public KxsmsProgram {
protected:
    void SetUp() override
    {
        KxsmsProgram::SetUp();
        unsetenv("KXSMS_PASSPHRASE");
        // Enough files over enough chunks that damage to one leaves others.
        for (int i = 0; i < 12; ++i) {
            std::string content = "CONTENTMARKER" + std::to_string(i) + "\n";
            for (int j = 0; content.size() < 70000; ++j)
                content += std::to_string(i * 7919 + j) + " ";
            writeFile(data_ / "tree/many" / ("NAMEMARKER" + std::to_string(i)), content);
        }
        writeFile(dir_ / "pw", "correct horse\n");
        writeFile(dir_ / "wrong", "battery staple\n");
    }

    // v: a plain secret key; w: one wrapped with the passphrase in pw.
    void makeKeys()
    {
        ASSERT_EQ(kxsms({"key", "generate", "-o", "v", "--no-passphrase"}).status, 0);
        ASSERT_EQ(kxsms({"key", "generate", "-o", "w", "--passphrase-file", "pw"}).status, 0);
    }

    // Restores into out/ and says whether it is the source tree.
    Result restore(const std::vector<std::string> &archiveAndKeys)
    {
        removeTree(data_ / "out");
        std::vector<std::string> arguments = {"restore"};
        arguments.insert(arguments.end(), archiveAndKeys.begin(), archiveAndKeys.end());
        arguments.insert(arguments.end(), {"--to", "/out"});
        return kxsms(arguments);
    }
    bool restoredWhole() { return describeTree(data_ / "tree") == describeTree(data_ / "out" / "tree"); }

    // Every file restored holds exactly its source's bytes; how many there are.
    size_t restoredIntact()
    {
        size_t intact = 0;
        if (!fs::exists(data_ / "out" / "tree"))
            return 0;
        for (const auto &entry : fs::recursive_directory_iterator(data_ / "out" / "tree")) {
            if (!entry.is_regular_file())
                continue;
            const fs::path source = data_ / fs::relative(entry.path(), data_ / "out");
            EXPECT_EQ(readFile(entry.path()), readFile(source)) << entry.path() << " was restored altered";
            ++intact;
        }
        return intact;
    }

    size_t sourceFiles()
    {
        size_t files = 0;
        for (const auto &entry : fs::recursive_directory_iterator(data_ / "tree"))
            files += entry.is_regular_file() && !entry.is_symlink();
        return files;
    }
};

TEST_F(EncryptedArchive, RoundTripsHideEveryNameAndByte)
{
    makeKeys();
    struct Case {
        const char *name;
        std::string prefix;
        std::vector<std::string> backup;
        std::vector<std::vector<std::string>> readers;
    };
    const std::vector<Case> cases = {
        {"passphrase file", "", {"--encrypt", "--passphrase-file", "pw"}, {{"--passphrase-file", "pw"}}},
        {"environment", "KXSMS_PASSPHRASE='correct horse' ", {"--encrypt", "--zstd"}, {{}}},
        {"one recipient", "", {"--recipient", "v.pub"}, {{"--key", "v.key"}}},
        {"two recipients",
         "",
         {"--recipient", "v.pub", "--recipient", "w.pub", "--zstd"},
         {{"--key", "v.key"}, {"--key", "w.key", "--passphrase-file", "pw"}}},
        {"passphrase and recipient",
         "",
         {"--encrypt", "--passphrase-file", "pw", "--recipient", "v.pub"},
         {{"--key", "v.key"}, {"--passphrase-file", "pw"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> arguments = {"backup", "/tree", "-f", "e.kxa"};
        arguments.insert(arguments.end(), c.backup.begin(), c.backup.end());
        Result r = sh(kxsmsLine(arguments, c.prefix));
        ASSERT_EQ(r.status, 0) << context(r);
        struct stat st;
        ASSERT_EQ(stat((dir_ / "e.kxa").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        const std::string bytes = readFile(dir_ / "e.kxa");
        for (const char *marker : {"NAMEMARKER", "CONTENTMARKER", "alpha", "tree", "KXSMSARC", "KXMH"})
            EXPECT_EQ(bytes.find(marker), std::string::npos) << marker << " is in the archive";
        for (const std::vector<std::string> &reader : c.readers) {
            std::vector<std::string> archive = {"-f", "e.kxa"};
            archive.insert(archive.end(), reader.begin(), reader.end());
            r = sh(kxsmsLine({"restore", "-f", "e.kxa", "--to", "/out"}, c.prefix) + " " + [&] {
                std::string extra;
                for (const std::string &a : reader)
                    extra += " " + quote(a);
                return extra;
            }());
            EXPECT_EQ(r.status, 0) << context(r);
            EXPECT_TRUE(restoredWhole());
            removeTree(data_ / "out");
            std::vector<std::string> verify = {"verify"};
            verify.insert(verify.end(), archive.begin(), archive.end());
            EXPECT_EQ(sh(kxsmsLine(verify, c.prefix)).status, 0);
        }
    }
}

// The passphrase asked on the terminal: twice when encrypting, and both must agree.
TEST_F(EncryptedArchive, PassphraseFromTheTerminal)
{
    if (sh("script -qec true /dev/null").status != 0)
        GTEST_SKIP() << "no pseudo-terminal here";
    const std::string backup = kxsmsLine({"backup", "/tree", "--encrypt", "-f", "t.kxa"});
    Result r = sh("export KXSMS; printf 'typed one\\ntyped one\\n' | script -qec " + quote(backup) + " /dev/null");
    ASSERT_EQ(r.status, 0) << context(r);
    EXPECT_EQ(r.err.find("typed one"), std::string::npos);
    writeFile(dir_ / "typed", "typed one\n");
    r = restore({"-f", "t.kxa", "--passphrase-file", "typed"});
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_TRUE(restoredWhole());

    r = sh("export KXSMS; printf 'one\\nother\\n' | script -qec " +
           quote(kxsmsLine({"backup", "/tree", "--encrypt", "-f", "u.kxa"})) + " /dev/null");
    EXPECT_NE(r.out.find("the passphrases given differ"), std::string::npos) << context(r);
    EXPECT_FALSE(fs::exists(dir_ / "u.kxa"));
}

// Without its passphrase or key, or with a wrong one, an archive is not
// read: exit 2, the reason, and nothing written.
TEST_F(EncryptedArchive, WrongOrMissingKeysWriteNothing)
{
    makeKeys();
    ASSERT_EQ(kxsms({"backup", "/tree", "--encrypt", "--passphrase-file", "pw", "-f", "p.kxa"}).status, 0);
    ASSERT_EQ(kxsms({"backup", "/tree", "--recipient", "v.pub", "-f", "r.kxa"}).status, 0);
    struct Case {
        std::vector<std::string> arguments;
        const char *says;
    };
    const std::vector<Case> cases = {
        {{"-f", "p.kxa"}, "the archive is encrypted: give --passphrase-file, KXSMS_PASSPHRASE or --key"},
        {{"-f", "r.kxa"}, "the archive is encrypted: give --passphrase-file, KXSMS_PASSPHRASE or --key"},
        {{"-f", "p.kxa", "--passphrase-file", "wrong"}, "wrong passphrase or key"},
        {{"-f", "p.kxa", "--key", "v.key"}, "wrong passphrase or key"},
        {{"-f", "r.kxa", "--key", "w.key", "--passphrase-file", "pw"}, "wrong passphrase or key"},
        {{"-f", "r.kxa", "--key", "w.key", "--passphrase-file", "wrong"}, "wrong passphrase or key"},
        {{"-f", "r.kxa", "--passphrase-file", "pw"}, "wrong passphrase or key"},
        {{"-f", "r.kxa", "--key", "v.pub"}, "is not a kxsms secret key"},
    };
    for (const Case &c : cases) {
        const Result r = restore(c.arguments);
        EXPECT_EQ(r.status, 2) << context(r);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << context(r);
        EXPECT_FALSE(fs::exists(data_ / "out")) << "something was written";
        EXPECT_EQ(r.err.find("correct horse"), std::string::npos);
        std::vector<std::string> list = {"list"};
        list.insert(list.end(), c.arguments.begin(), c.arguments.end());
        EXPECT_EQ(kxsms(list).status, 2);
    }
}

// Each kind of tampering is detected and named; a restore writes only bytes
// that authenticated, restores every member the damage did not reach, and
// exits 1; damage to the clear header leaves nothing to read: exit 2.
TEST_F(EncryptedArchive, TamperingIsDetectedAndTheRestRestores)
{
    makeKeys();
    ASSERT_EQ(kxsms({"backup", "/tree", "--recipient", "v.pub", "-f", "good.kxa"}).status, 0);
    ASSERT_EQ(kxsms({"backup", "/tree", "--recipient", "v.pub", "-f", "other.kxa"}).status, 0);
    const std::string good = readFile(dir_ / "good.kxa");
    const std::string other = readFile(dir_ / "other.kxa");
    const size_t header = good.size() % c_SealedChunk;
    const size_t chunks = good.size() / c_SealedChunk;
    ASSERT_GE(chunks, 8u);
    auto chunkAt = [&](size_t i) { return header + i * c_SealedChunk; };
    auto flip = [&](size_t at) {
        std::string bytes = good;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
        return bytes;
    };
    auto swapped = [&](size_t a, size_t b) {
        std::string bytes = good;
        bytes.replace(chunkAt(a), c_SealedChunk, good, chunkAt(b), c_SealedChunk);
        bytes.replace(chunkAt(b), c_SealedChunk, good, chunkAt(a), c_SealedChunk);
        return bytes;
    };
    struct Case {
        const char *name;
        std::string bytes;
        int status;
        const char *says;
        size_t intact; // at least this many files restored
    };
    const size_t files = sourceFiles();
    const std::vector<Case> cases = {
        {"clear header", flip(12), 2, "header is damaged", 0},
        {"wrapped key", flip(30), 2, "wrong passphrase or key", 0},
        {"header hash", flip(header - 1), 2, "does not authenticate", 0},
        {"first chunk", flip(chunkAt(0) + 200), 1, "does not authenticate", files / 2},
        {"middle chunk", flip(chunkAt(chunks / 2) + 5000), 1, "does not authenticate", files / 2},
        {"last chunk", flip(good.size() - 3), 1, "last chunk is missing", files / 2},
        {"cut at a chunk boundary", good.substr(0, chunkAt(chunks - 1)), 1, "last chunk is missing", files / 2},
        {"cut inside a chunk", good.substr(0, chunkAt(chunks / 2) + 777), 1, "truncated inside a chunk", files / 3},
        {"two chunks swapped", swapped(2, 3), 1, "chunk(s) missing", files / 2},
        {"a chunk repeated", good.substr(0, chunkAt(3)) + good.substr(chunkAt(2)), 1, "repeated or moved", files},
        {"a chunk of another archive",
         good.substr(0, chunkAt(3)) + other.substr(other.size() % c_SealedChunk + 3 * c_SealedChunk, c_SealedChunk) +
             good.substr(chunkAt(4)),
         1, "not of this archive", files / 2},
        {"bytes appended", good + "more", 1, "after the archive's last chunk", files},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir_ / "bad.kxa", c.bytes);
        const Result r = restore({"-f", "bad.kxa", "--key", "v.key"});
        EXPECT_EQ(r.status, c.status) << context(r);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << context(r);
        const size_t intact = restoredIntact();
        EXPECT_GE(intact, c.intact) << context(r);
        if (c.status == 2) {
            EXPECT_EQ(intact, 0u);
        }
        const Result verified = kxsms({"verify", "-f", "bad.kxa", "--key", "v.key"});
        EXPECT_EQ(verified.status, c.status) << context(verified);
    }
}

TEST_F(EncryptedArchive, ChainsAndPipes)
{
    makeKeys();
    ASSERT_EQ(kxsms({"backup", "/tree", "--incremental", "--clear-archive", "--recipient", "v.pub", "--zstd", "-f",
                     "full.kxa"})
                  .status,
              0);
    writeFile(data_ / "tree/a.txt", "changed\n");
    writeFile(data_ / "tree/new.txt", "new\n");
    Result r = kxsms({"backup", "/tree", "--incremental", "--clear-archive", "--recipient", "v.pub", "-f", "inc.kxa"});
    ASSERT_EQ(r.status, 0) << context(r);
    r = restore({"-f", "full.kxa", "-f", "inc.kxa", "--key", "v.key"});
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_TRUE(restoredWhole());

    // Both ways through pipes: the archive on standard output, then on standard input.
    removeTree(data_ / "out");
    r = sh(kxsmsLine({"backup", "/tree", "--recipient", "v.pub", "-f", "-"}) + " | " +
           kxsmsLine({"restore", "-f", "-", "--key", "v.key", "--to", "/out"}));
    EXPECT_EQ(r.status, 0) << context(r);
    EXPECT_TRUE(restoredWhole());
    // The passphrase and the archive cannot both come from standard input.
    r = sh("cat full.kxa | " + kxsmsLine({"list", "-f", "-", "--passphrase-file", "-"}));
    EXPECT_EQ(r.status, 2);
}

} // namespace
