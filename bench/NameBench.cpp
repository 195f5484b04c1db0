// Micro-benchmarks of the name rules the module applies to every data set:
// path conversion in both directions and the resource of a name.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "KXSMS.h"

namespace {

struct Object : CKXSMS {
    explicit Object(KXSMS_TSA_TYPE type)
    {
        m_TSAType = type;
        strcpy(m_TSARoot, type == KXSMS_TSA_GROUPWISE ? "GroupWise Mail Server" : "/");
        strcpy(m_TargetServiceName, "ACME_TREE");
        strcpy(m_Separator1, ".");
    }
};

void convert(benchmark::State &state, KXSMS_TSA_TYPE type, const char *name, bool toSms)
{
    Object object(type);
    std::string input = name;
    char out[1024];
    for (auto _ : state) {
        const unsigned code = toSms ? object.NetWareToSMS(input.data(), out, sizeof out)
                                    : object.SMSToNetWare(input.data(), out, sizeof out);
        benchmark::DoNotOptimize(code);
        benchmark::DoNotOptimize(out);
    }
}

BENCHMARK_CAPTURE(convert, FileSystemToSms, KXSMS_TSA_FILE_SYSTEM, "/usr/include/linux/netfilter/xt_conntrack.h", true);
BENCHMARK_CAPTURE(convert, DirectoryToSms, KXSMS_TSA_DIRECTORY, "CN=Admin.OU=Sales.O=Acme", true);
BENCHMARK_CAPTURE(convert, DirectoryToAgent, KXSMS_TSA_DIRECTORY, ".CN=Admin.OU=Sales.O=Acme.[Root]", false);
BENCHMARK_CAPTURE(convert, GroupWiseToSms, KXSMS_TSA_GROUPWISE, "DOM1:\\po1\\users\\ann\\mail.db", true);
BENCHMARK_CAPTURE(convert, GroupWiseToAgent, KXSMS_TSA_GROUPWISE, "DOM1:po1/users/ann/mail.db", false);

void resourceOf(benchmark::State &state, KXSMS_TSA_TYPE type, const char *name)
{
    Object object(type);
    std::string input = name;
    char resource[64];
    for (auto _ : state) {
        benchmark::DoNotOptimize(object.GetResourceName(input.data(), resource));
    }
}

BENCHMARK_CAPTURE(resourceOf, Directory, KXSMS_TSA_DIRECTORY, ".CN=Admin.OU=Sales.O=Acme.[Root]");
BENCHMARK_CAPTURE(resourceOf, GroupWise, KXSMS_TSA_GROUPWISE, "DOM1:po1/users/ann/mail.db");

void treeNames(benchmark::State &state)
{
    Object object(KXSMS_TSA_DIRECTORY);
    char name[1024];
    for (auto _ : state) {
        strcpy(name, ".CN=Admin.OU=Sales.O=Acme.T=ACME_TREE");
        benchmark::DoNotOptimize(object.TreeNameToRoot(name));
    }
}
BENCHMARK(treeNames);

} // namespace
