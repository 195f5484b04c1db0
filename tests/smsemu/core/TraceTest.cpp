// The call trace (SMSEMU_TRACE) and injected faults (SMSEMU_FAULTS).
#include "SmsEmuFixture.h"

#include <regex>
#include <sstream>

namespace smsemutest {
namespace {

struct Line {
    std::string function;
    std::vector<std::string> args;
    std::string result;
};

// Splits "Name(a, b, "c, d") = r" into its parts; quoted texts may hold ", ".
Line parse(const std::string &text)
{
    static const std::regex shape(R"(^(\w+)\((.*)\) = (.*)$)");
    std::smatch m;
    EXPECT_TRUE(std::regex_match(text, m, shape)) << text;
    Line line{m[1], {}, m[3]};
    std::string args = m[2];
    std::string current;
    bool quoted = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        char c = args[i];
        if (quoted && c == '\\' && i + 1 < args.size()) {
            current += c;
            current += args[++i];
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        if (!quoted && c == ',' && i + 1 < args.size() && args[i + 1] == ' ') {
            line.args.push_back(current);
            current.clear();
            ++i;
            continue;
        }
        current += c;
    }
    if (!args.empty())
        line.args.push_back(current);
    return line;
}

class Tracing : public SmsEmu {
protected:
    void SetUp() override
    {
        SmsEmu::SetUp();
        trace_ = (dir_ / "trace.log").string();
        setenv("SMSEMU_TRACE", trace_.c_str(), 1);
        useFullConfig();
    }

    std::string content()
    {
        std::ifstream in(trace_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::vector<Line> lines()
    {
        std::vector<Line> out;
        std::istringstream in(content());
        for (std::string text; std::getline(in, text);)
            out.push_back(parse(text));
        return out;
    }

    std::string trace_;
};

const std::regex kPointer("^0x[0-9a-f]+$");

TEST_F(Tracing, EachCallIsOneLineWithItsArgumentsAndResult)
{
    NWSM_NAME_LIST *tsas = nullptr;
    ASSERT_EQ(NWSMListTSAs(const_cast<char *>("srv1"), &tsas), 0u);
    names(tsas);
    UINT32 connection = connect("srv1.Directory");
    ASSERT_EQ(connection, 1u);
    ASSERT_EQ(login(connection, "ACME_TREE", "admin", "secret"), 0u);
    NWSM_DATA_SET_NAME_LIST *list = nullptr;
    ASSERT_EQ(NWSMPutOneName(&list, NWSM_TSA_DEFINED_RESOURCE, 0, 0, nullptr, nullptr, const_cast<char *>("ACME_TREE")),
              0u);
    NWSM_SCAN_CONTROL control{};
    control.scanType = 1;
    control.returnNameSpaceType = -1;
    UINT32 sequence = 0;
    NWSM_SCAN_INFORMATION *info = nullptr;
    NWSM_DATA_SET_NAME_LIST *found = nullptr;
    ASSERT_EQ(NWSMTSScanDataSetBegin(connection, list, &control, nullptr, &sequence, &info, &found), 0u);
    std::free(list);
    while (NWSMTSScanNextDataSet(connection, &sequence, &info, &found) == 0) {
    }
    EXPECT_EQ(NWSMPackDateTime(2024, 1, 2, 3, 4, 5), 0x58221882u);
    char path[] = "dir\\\"x/";
    NWSMStripEndSeparator(0, path, nullptr);
    UINT16 year = 0;
    NWSMUnPackDateTime(0x00210000u, &year, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(NWSMReleaseTSA(&connection), 0u);

    std::vector<Line> all = lines();
    ASSERT_EQ(all.size(), 13u) << content();
    auto at = [&](std::size_t i, const char *function) -> const Line & {
        EXPECT_EQ(all[i].function, function);
        return all[i];
    };
    const Line &list1 = at(0, "NWSMListTSAs");
    EXPECT_EQ(list1.args[0], "\"srv1\"");
    EXPECT_TRUE(std::regex_match(list1.args[1], kPointer));
    EXPECT_EQ(list1.result, "0x0");
    at(1, "NWSMFreeNameList");
    EXPECT_EQ(at(2, "NWSMConnectToTSA").args, (std::vector<std::string>{"\"srv1.Directory\"", "0x1"}));
    const Line &logIn = at(3, "NWSMTSConnectToTargetService");
    EXPECT_EQ(logIn.args, (std::vector<std::string>{"0x1", "\"ACME_TREE\"", "\"admin\"", "<auth>"}));
    const Line &put = at(4, "NWSMPutOneName");
    EXPECT_EQ(std::vector<std::string>(put.args.begin() + 1, put.args.end()),
              (std::vector<std::string>{"0xfffffffe", "0x0", "0x0", "NULL", "NULL", "\"ACME_TREE\""}));
    const Line &begin = at(5, "NWSMTSScanDataSetBegin");
    ASSERT_EQ(begin.args.size(), 7u);
    EXPECT_EQ(begin.args[3], "NULL");
    EXPECT_EQ(begin.args[4], "0x1"); // the new sequence
    EXPECT_EQ(at(6, "NWSMTSScanNextDataSet").args[1], "0x1");
    at(7, "NWSMTSScanNextDataSet");
    const Line &end = at(8, "NWSMTSScanNextDataSet");
    EXPECT_EQ(end.args[1], "0x1");
    EXPECT_EQ(end.result, "0xfffdffd1");
    EXPECT_EQ(at(9, "NWSMPackDateTime").args, (std::vector<std::string>{"0x7e8", "0x1", "0x2", "0x3", "0x4", "0x5"}));
    EXPECT_EQ(all[9].result, "0x58221882");
    const Line &strip = at(10, "NWSMStripEndSeparator");
    EXPECT_EQ(strip.args, (std::vector<std::string>{"0x0", R"("dir\\\"x/")", "NULL"}));
    EXPECT_EQ(strip.result, R"("dir\\\"x")");
    const Line &unpackLine = at(11, "NWSMUnPackDateTime");
    EXPECT_EQ(unpackLine.args, (std::vector<std::string>{"0x210000", "0x7bc", "NULL", "NULL", "NULL", "NULL", "NULL"}));
    EXPECT_EQ(unpackLine.result, "void");
    EXPECT_EQ(at(12, "NWSMReleaseTSA").args, (std::vector<std::string>{"0x1"}));
}

TEST_F(Tracing, PasswordsNeverAppear)
{
    const std::string password = "Pa55-w0rd-never-shown";
    UINT32 connection = connect("srv1.Linux File System");
    EXPECT_EQ(login(connection, "srv1", "admin", password), NWSMTS_LOGIN_DENIED);
    EXPECT_EQ(login(connection, "srv1", "nobody", password), NWSMTS_LOGIN_DENIED);
    std::vector<char> broken = auth(password);
    broken[0] = 0x7f; // length past the terminator
    EXPECT_EQ(NWSMTSConnectToTargetService(&connection, const_cast<char *>("srv1"), const_cast<char *>("admin"),
                                           broken.data()),
              NWSMTS_INVALID_PARAMETER);
    std::string text = content();
    EXPECT_EQ(text.find("Pa55"), std::string::npos);
    EXPECT_NE(text.find("\"admin\", <auth>) = 0xfffdffd7"), std::string::npos);
    EXPECT_NE(text.find("\"admin\", <auth>) = 0xfffdffdd"), std::string::npos);
}

TEST_F(Tracing, OutputIntegersShowTheirValueOnlyOnSuccess)
{
    UINT32 connection = 0xABCD;
    EXPECT_EQ(NWSMConnectToTSA(const_cast<char *>("no such TSA"), &connection), NWSMDR_NO_SUCH_TSA);
    UINT32 types = 0;
    connection = connect("srv1.GroupWise System");
    EXPECT_EQ(NWSMTSGetSupportedNameTypes(connection, &types), NWSMTS_NO_CONNECTION);
    std::vector<Line> all = lines();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_TRUE(std::regex_match(all[0].args[1], kPointer));
    EXPECT_NE(all[0].args[1], "0xabcd");
    EXPECT_EQ(all[1].args[1], "0x1");
    EXPECT_TRUE(std::regex_match(all[2].args[1], kPointer));
    EXPECT_EQ(all[2].result, "0xfffdffd3");
}

class Faults : public SmsEmu {};

TEST_F(Faults, NthAndEveryCallFailBeforeDoingAnything)
{
    setenv("SMSEMU_FAULTS", "NWSMTSListTSResources@2=0xFFFDFFC6, NWSMPutOneName@*=0xfffdffc9,NWSMReleaseTSA@1=7", 1);
    useFullConfig();
    UINT32 connection = loggedIn("srv1.Linux File System", "srv1");
    auto sentinel = reinterpret_cast<NWSM_NAME_LIST *>(0x5);
    NWSM_NAME_LIST *list = sentinel;
    ASSERT_EQ(NWSMTSListTSResources(connection, &list), 0u);
    EXPECT_EQ(names(list), (std::vector<std::string>{"/", "/srv"}));
    list = sentinel;
    EXPECT_EQ(NWSMTSListTSResources(connection, &list), NWSMTS_READ_ERROR);
    EXPECT_EQ(list, sentinel); // untouched
    ASSERT_EQ(NWSMTSListTSResources(connection, &list), 0u);
    names(list);

    for (int i = 0; i < 3; ++i) {
        auto *names = reinterpret_cast<NWSM_DATA_SET_NAME_LIST *>(0x9);
        EXPECT_EQ(NWSMPutOneName(&names, 0, 0, 0, nullptr, nullptr, const_cast<char *>("/a")), NWSMTS_OUT_OF_MEMORY);
        EXPECT_EQ(names, reinterpret_cast<NWSM_DATA_SET_NAME_LIST *>(0x9));
    }
    EXPECT_EQ(NWSMReleaseTSA(&connection), 7u);
    EXPECT_EQ(smsemuOpenConnections(), 1); // the faulted release did nothing
    EXPECT_EQ(NWSMReleaseTSA(&connection), 0u);
    EXPECT_EQ(smsemuCallCount("NWSMTSListTSResources"), 3u);
    EXPECT_EQ(smsemuCallCount("NWSMPutOneName"), 3u);
    EXPECT_EQ(smsemuCallCount("NWSMReleaseTSA"), 2u);

    // A reset starts the count again.
    smsemuReset();
    EXPECT_EQ(smsemuCallCount("NWSMPutOneName"), 0u);
    connection = loggedIn("srv1.Linux File System", "srv1");
    ASSERT_EQ(NWSMTSListTSResources(connection, &list), 0u);
    names(list);
    EXPECT_EQ(NWSMTSListTSResources(connection, &list), NWSMTS_READ_ERROR);
}

// A fault aimed at one connection counts that connection's calls only: the
// other connection's calls neither fail nor move its count.
TEST_F(Faults, AFaultAimedAtOneConnectionCountsAndFailsOnlyThere)
{
    setenv("SMSEMU_FAULTS", "NWSMTSListTSResources#2@2=0xFFFDFFC6, NWSMTSGetSupportedNameTypes#1@*=0xFFFDFFB9", 1);
    useFullConfig();
    const UINT32 first = loggedIn("srv1.Linux File System", "srv1");
    const UINT32 second = loggedIn("srv1.Linux File System", "srv1");
    ASSERT_EQ(first, 1u);
    ASSERT_EQ(second, 2u);
    NWSM_NAME_LIST *list = nullptr;
    // Calls on the first connection between do not count for the second.
    for (const auto &[connection, expected] : std::vector<std::pair<UINT32, CCODE>>{
             {second, 0u}, {first, 0u}, {first, 0u}, {second, NWSMTS_READ_ERROR}, {second, 0u}, {first, 0u}}) {
        list = nullptr;
        EXPECT_EQ(NWSMTSListTSResources(connection, &list), expected) << connection;
        if (expected == 0)
            names(list);
    }
    UINT32 types = 0;
    EXPECT_EQ(NWSMTSGetSupportedNameTypes(first, &types), NWSMTS_UNSUPPORTED_FUNCTION);
    EXPECT_EQ(NWSMTSGetSupportedNameTypes(first, &types), NWSMTS_UNSUPPORTED_FUNCTION);
    EXPECT_EQ(NWSMTSGetSupportedNameTypes(second, &types), 0u);
    // The process-wide count still counts every call.
    EXPECT_EQ(smsemuCallCount("NWSMTSListTSResources"), 6u);
}

TEST_F(Faults, FaultedCallsAreTraced)
{
    std::string trace = (dir_ / "trace.log").string();
    setenv("SMSEMU_TRACE", trace.c_str(), 1);
    setenv("SMSEMU_FAULTS", "NWSMTSGetSupportedNameTypes@*=0xFFFDFFB9", 1);
    useFullConfig();
    UINT32 connection = loggedIn("srv1.Linux File System", "srv1");
    UINT32 types = 0;
    EXPECT_EQ(NWSMTSGetSupportedNameTypes(connection, &types), NWSMTS_UNSUPPORTED_FUNCTION);
    std::ifstream in(trace);
    std::string last, text;
    while (std::getline(in, text))
        last = text;
    EXPECT_TRUE(std::regex_match(last, std::regex(R"(NWSMTSGetSupportedNameTypes\(0x1, 0x[0-9a-f]+\) = 0xfffdffb9)")))
        << last;
}

TEST_F(Faults, MalformedSettingsAreReportedOnceAndIgnored)
{
    const char *bad[] = {"NWSMBogus@1=0x1",
                         "NWSMPackDateTime@1=0xFFFDFFC6",
                         "NWSMTSReadDataSet@0=0x1",
                         "NWSMTSReadDataSet@x=0x1",
                         "NWSMTSReadDataSet@1=0",
                         "NWSMTSReadDataSet=1@1",
                         "NWSMTSReadDataSet@1=0x1FFFFFFFF",
                         "NWSMPutOneName@1=0x1,garbage",
                         "NWSMTSReadDataSet#0@1=0x1",
                         "NWSMTSReadDataSet#@1=0x1",
                         "NWSMTSReadDataSet#x@*=0x1",
                         "NWSMBogus#1@1=0x1"};
    for (const char *setting : bad) {
        setenv("SMSEMU_FAULTS", setting, 1);
        ::testing::internal::CaptureStderr();
        smsemuReset();
        NWSM_DATA_SET_NAME_LIST *list = nullptr;
        EXPECT_EQ(NWSMPutOneName(&list, 0, 0, 0, nullptr, nullptr, const_cast<char *>("/a")), 0u) << setting;
        std::free(list);
        NWSM_NAME_LIST *tsas = nullptr;
        NWSMListTSAs(const_cast<char *>("nowhere"), &tsas);
        std::string err = ::testing::internal::GetCapturedStderr();
        std::size_t first = err.find("SMSEMU_FAULTS");
        EXPECT_NE(first, std::string::npos) << setting;
        EXPECT_EQ(err.find("SMSEMU_FAULTS", first + 1), std::string::npos) << setting << ": " << err;
    }
}

} // namespace
} // namespace smsemutest
