// The kxsms program run end to end, through the module, against the
// file-system TSA of the SMS stand-in over a temporary tree: the fixture and
// helpers the end-to-end tests share.
#ifndef KXSMS_TESTS_KXSMSPROGRAM_H
#define KXSMS_TESTS_KXSMSPROGRAM_H

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Files.h"
#include "TempDir.h"

namespace kxsms_test {

namespace fs = std::filesystem;
using nlohmann::json;

using testsupport::readFile;
using testsupport::removeTree;
using testsupport::writeFile;

inline std::string quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct Result {
    int status;
    std::string out;
    std::string err;
};

// The kxsms program the command lines run as $KXSMS: the build's, until a
// test that runs it as another user asks for a copy that user can reach.
inline std::string &kxsmsProgram()
{
    static std::string program = KXSMS_BINARY;
    return program;
}

// The first folder on the way to path (path itself included) that users
// other than its owner cannot enter, or "" when there is none.
inline std::string closedFolder(const std::filesystem::path &path)
{
    std::filesystem::path walked;
    for (const auto &part : std::filesystem::absolute(path)) {
        walked /= part;
        struct stat st;
        if (stat(walked.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_IXOTH) == 0)
            return walked.string();
    }
    return "";
}

// A copy of the built kxsms and the libraries beside it (bin/, lib/: it
// finds them as it finds the build's) in a folder of the temporary folder
// that every user can enter, made once per test program and removed at its
// end. Files are linked where the file system allows, else copied.
class OpenCopy {
public:
    static const OpenCopy &get()
    {
        static const OpenCopy copy;
        return copy;
    }
    ~OpenCopy()
    {
        std::error_code ignored;
        if (!folder_.empty())
            std::filesystem::remove_all(folder_, ignored);
    }
    const std::string &program() const { return program_; }
    const std::string &problem() const { return problem_; } // why there is none

private:
    OpenCopy()
    {
        namespace fs = std::filesystem;
        std::string pattern = (fs::temp_directory_path() / "kxsms-open-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            problem_ = "cannot make a folder in " + fs::temp_directory_path().string();
            return;
        }
        folder_ = pattern;
        const fs::path built(KXSMS_BINARY);
        const fs::path libraries = built.parent_path().parent_path() / "lib";
        std::error_code error;
        fs::create_directories(folder_ / "bin", error);
        fs::create_directories(folder_ / "lib", error);
        for (const fs::path &made : {folder_, folder_ / "bin", folder_ / "lib"})
            fs::permissions(made, fs::perms(0755), error);
        place(built, folder_ / "bin" / built.filename());
        for (const auto &entry : fs::directory_iterator(libraries, error))
            if (entry.path().filename().string().find(".so") != std::string::npos)
                place(entry.path(), folder_ / "lib" / entry.path().filename());
        program_ = (folder_ / "bin" / built.filename()).string();
        if (!problem_.empty())
            program_.clear();
    }

    void place(const std::filesystem::path &from, const std::filesystem::path &to)
    {
        namespace fs = std::filesystem;
        std::error_code error;
        if (fs::is_symlink(from))
            fs::copy_symlink(from, to, error);
        else if (fs::create_hard_link(from, to, error); error)
            fs::copy_file(from, to, error);
        if (error && problem_.empty())
            problem_ = "cannot copy " + from.string() + " to " + to.string() + ": " + error.message();
    }

    std::filesystem::path folder_;
    std::string program_;
    std::string problem_;
};

// Readies a test that runs kxsms as another user (nobody): $KXSMS becomes
// the open copy, since the build tree may lie in a folder others cannot
// enter (a private home, a folder made by mktemp -d). Returns why the test
// cannot run here, naming the folder at fault, or "" when it can. scratch:
// the test's own folder, which the other user must reach as well.
inline std::string runKxsmsForOtherUsers(const std::filesystem::path &scratch)
{
    const OpenCopy &copy = OpenCopy::get();
    if (copy.program().empty())
        return "no copy of kxsms for other users: " + copy.problem();
    for (const std::string &path : {copy.program(), scratch.string()})
        if (const std::string closed = closedFolder(std::filesystem::path(path).parent_path()); !closed.empty())
            return "other users cannot enter " + closed + " (on the way to " + path + ")";
    kxsmsProgram() = copy.program();
    return "";
}

// With KXSMS_TEST_RESTORE_JOBS=N (KXSMS_TEST_BACKUP_JOBS=N) in the test's
// environment every restore (backup) the command line runs takes -j N: the
// same tests run with one module object and with several (ctest runs them
// both ways). The program $KXSMS then names is a script in `dir` that adds it.
inline std::string restoreJobsProgram(const fs::path &dir)
{
    const char *restoreJobs = getenv("KXSMS_TEST_RESTORE_JOBS");
    const char *backupJobs = getenv("KXSMS_TEST_BACKUP_JOBS");
    const std::string restore = restoreJobs == nullptr ? "" : restoreJobs;
    const std::string backup = backupJobs == nullptr ? "" : backupJobs;
    if (restore.empty() && backup.empty())
        return kxsmsProgram();
    const fs::path wrapper = dir / "kxsms-jobs";
    // A command line that gives -j itself keeps it; only the command's own
    // word (the first restore or backup) takes it.
    writeFile(wrapper, "#!/bin/bash\nfirst=1\nfor a; do case $a in -j|--jobs|--jobs=*) first=0;; esac; done\n"
                       "for a; do\n  shift\n  set -- \"$@\" \"$a\"\n"
                       "  if [ $first = 1 ] && [ \"$a\" = restore ]; then first=0; [ -n \"" +
                           restore + "\" ] && set -- \"$@\" -j " + (restore.empty() ? "1" : restore) +
                           "; fi\n"
                           "  if [ $first = 1 ] && [ \"$a\" = backup ]; then first=0; [ -n \"" +
                           backup + "\" ] && set -- \"$@\" -j " + (backup.empty() ? "1" : backup) +
                           "; fi\ndone\nexec " + quote(kxsmsProgram()) + " \"$@\"\n");
    chmod(wrapper.c_str(), 0755);
    return wrapper.string();
}

// Runs a shell command line in `dir`, in which $KXSMS is the program and
// $AS_NOBODY runs what follows as the user nobody. kxsms keeps its own state
// below `dir` (XDG_STATE_HOME; a command of the test may name another), never
// in the machine's.
inline Result runShell(const fs::path &dir, const std::string &commandLine)
{
    const fs::path out = dir / "stdout", err = dir / "stderr";
    const std::string full = "cd " + quote(dir.string()) + " && export XDG_STATE_HOME=" + quote(dir.string()) +
                             " && KXSMS=" + quote(restoreJobsProgram(dir)) +
                             " && AS_NOBODY='setpriv --reuid=nobody --regid=nogroup --clear-groups' && (" +
                             commandLine + ") >" + quote(out) + " 2>" + quote(err) + " </dev/null";
    const int raw = system(("bash -c " + quote(full)).c_str());
    return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(out), readFile(err)};
}

// The command line that runs kxsms with these arguments (each quoted), after `prefix`.
inline std::string kxsmsLine(const std::vector<std::string> &arguments, const std::string &prefix = "")
{
    std::string line = prefix + "\"$KXSMS\"";
    for (const std::string &argument : arguments)
        line += " " + quote(argument);
    return line;
}

// A new scratch folder below the temporary folder, its name starting with
// `prefix`; the test removes it with removeTree.
inline fs::path makeScratch(const std::string &prefix)
{
    return testsupport::TempDir(prefix).release();
}

inline void setFileTime(const fs::path &path, time_t when)
{
    testsupport::setFileTimes(path, when);
}

// What a tree holds, file by file: kind, mode, modification second, content or target.
inline std::map<std::string, std::string> describeTree(const fs::path &root)
{
    std::map<std::string, std::string> entries;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        struct stat st;
        lstat(entry.path().c_str(), &st);
        std::string what = std::to_string(st.st_mode & 07777) + " ";
        if (S_ISLNK(st.st_mode))
            what += "link " + fs::read_symlink(entry.path()).string();
        else if (S_ISDIR(st.st_mode))
            what += "dir " + std::to_string(st.st_mtime);
        else
            what += "file " + std::to_string(st.st_mtime) + " " + readFile(entry.path());
        entries[fs::relative(entry.path(), root).string()] = what;
    }
    return entries;
}

// The temporary files of restores below root.
inline std::set<std::string> temporaryFiles(const fs::path &root)
{
    std::set<std::string> found;
    for (const auto &entry : fs::recursive_directory_iterator(root))
        if (entry.path().filename().string().rfind(".kxsms-restore-", 0) == 0)
            found.insert(entry.path().string());
    return found;
}

// Content that does not compress, of this size.
inline std::string bigContent(size_t size)
{
    std::string text(size, '\0');
    uint64_t x = 88172645463325252ull;
    for (char &c : text) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(x);
    }
    return text;
}

class KxsmsProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = makeScratch("kxsms-e2e");
        data_ = dir_ / "data";
        fs::create_directories(data_);
        useConfig("");
        setenv("KXSMS_PASSWORD", "", 1);
        setenv("KXLIB_LOG", (dir_ / "kxlib.log").c_str(), 1);
        unsetenv("SMSEMU_FAULTS");
        unsetenv("KXSMS_LIBRARY");
        makeTree();
    }
    void TearDown() override { removeTree(dir_); }

    // The stand-in's configuration: one file-system TSA whose resource "/" is data_.
    void useConfig(const std::string &extra)
    {
        // The archive flags go to a store of the test's own, never the machine's.
        writeFile(dir_ / "smsemu.toml",
                  "[[tsa]]\ntype = \"Linux File System\"\n" + extra +
                      (extra.find("archive_state") == std::string::npos
                           ? "\narchive_state = \"" + (dir_ / "state/archive.sqlite").string() + "\""
                           : std::string()) +
                      "\n  [[tsa.resource]]\n  name = \"/\"\n  path = \"" + data_.string() + "\"\n");
        setenv("SMSEMU_CONFIG", (dir_ / "smsemu.toml").c_str(), 1);
    }

    void makeTree()
    {
        std::string big(200000, '\0');
        for (size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<char>('a' + (i * 7 + i / 1000) % 26);
        writeFile(data_ / "tree/a.txt", "alpha\n");
        writeFile(data_ / "tree/big.bin", big);
        writeFile(data_ / "tree/block.bin", std::string(65536, 'b'));
        writeFile(data_ / "tree/sub/b.txt", "beta\n");
        writeFile(data_ / "tree/sub/deeper/c.txt", "gamma\n");
        fs::create_directories(data_ / "tree/empty");
        fs::permissions(data_ / "tree/sub/b.txt", fs::perms(0640));
        fs::create_symlink("a.txt", data_ / "tree/link");
        setTime(data_ / "tree/a.txt", 1600000000);
        setTime(data_ / "tree/sub/deeper/c.txt", 1500000000);
    }

    static void setTime(const fs::path &path, time_t when) { setFileTime(path, when); }

    // Runs a shell command line in which $KXSMS is the program.
    Result sh(const std::string &commandLine) { return runShell(dir_, commandLine); }

    // Runs kxsms with these arguments (each quoted).
    Result kxsms(const std::vector<std::string> &arguments) { return sh(kxsmsLine(arguments)); }

    // The data sets (not parents) below path whose archive flag is set.
    std::set<std::string> flaggedBelow(const std::string &path)
    {
        const Result r = kxsms({"ls", "-r", path, "--json"});
        EXPECT_EQ(r.status, 0) << r.err;
        std::set<std::string> names;
        for (const json &entry : json::parse(r.out))
            if (entry["archive"].get<bool>() && !entry["parent"].get<bool>())
                names.insert(entry["name"].get<std::string>());
        return names;
    }

    std::vector<std::string> archivedNames(const std::string &archive)
    {
        const Result listed = kxsms({"list", "-f", archive, "--json"});
        EXPECT_EQ(listed.status, 0) << listed.err;
        std::vector<std::string> names;
        for (const json &member : json::parse(listed.out))
            names.push_back(member["name"].get<std::string>());
        return names;
    }

    fs::path dir_;
    fs::path data_;
};

inline std::string context(const Result &result)
{
    return "status " + std::to_string(result.status) + "\nstdout:\n" + result.out + "\nstderr:\n" + result.err;
}

} // namespace kxsms_test

#endif
