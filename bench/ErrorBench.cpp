// Micro-benchmarks of the error lookups: a linear search over at most 83 rows.
#include <benchmark/benchmark.h>

#include "KXSMS.h"

namespace {

void smsText(benchmark::State &state, unsigned code)
{
    CKXSMS *object = CreateKXSMS();
    for (auto _ : state) {
        unsigned module = 0;
        benchmark::DoNotOptimize(object->FindSMSError(code, &module));
    }
    DestroyKXSMS(object);
}

BENCHMARK_CAPTURE(smsText, FirstRow, 0xFFFDFFFFu);
BENCHMARK_CAPTURE(smsText, LastTargetServiceRow, 0xFFFDFFADu);
BENCHMARK_CAPTURE(smsText, RequesterRow, 0xFFFEFFE0u);
BENCHMARK_CAPTURE(smsText, Unknown, 0x12345678u);

void moduleText(benchmark::State &state, unsigned code)
{
    CKXSMS *object = CreateKXSMS();
    for (auto _ : state) {
        benchmark::DoNotOptimize(object->GetErrorText(code));
    }
    DestroyKXSMS(object);
}

BENCHMARK_CAPTURE(moduleText, Known, 130049u);
BENCHMARK_CAPTURE(moduleText, Unknown, 130050u);

} // namespace
