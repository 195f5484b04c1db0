// Micro-benchmarks of the exported path objects: parsing and editing.
#include <benchmark/benchmark.h>

#include "NetWarePath.h"

namespace {

void setPath(benchmark::State &state, const char *text, int type, bool encoded)
{
    NETWARE_PATH_OBJECT *path = NetWarePathNew();
    for (auto _ : state) {
        const int ok =
            encoded ? NetWarePathSetEncodedPath(path, text, type) : NetWarePathSetNativePath(path, text, type);
        benchmark::DoNotOptimize(ok);
    }
    NetWarePathDelete(path);
}

BENCHMARK_CAPTURE(setPath, FileSystem, "SRV1\\SYS:\\PUBLIC\\REPORTS\\2026\\Q4\\SUMMARY.TXT", 0, false);
BENCHMARK_CAPTURE(setPath, NdsNative, "CN=a\\.b.OU=Sales.OU=East.O=Acme.[Root]", 1, false);
BENCHMARK_CAPTURE(setPath, NdsEncoded, ".[Root].O=Acme.OU=East.OU=Sales.CN=a\\2e\\b", 1, true);

void appendRemove(benchmark::State &state)
{
    NETWARE_PATH_OBJECT *path = NetWarePathNew();
    NetWarePathSetNativePath(path, "SYS:\\PUBLIC\\REPORTS", 0);
    for (auto _ : state) {
        NetWarePathAppendNativeComponent(path, "FILE.TXT");
        NetWarePathRemoveComponent(path);
    }
    NetWarePathDelete(path);
}
BENCHMARK(appendRemove);

} // namespace
