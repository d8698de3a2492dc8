// Cost of one poll of the decoder and jog engine in each wheel function, and
// the heap allocations it makes (counted by replacing operator new in this
// program). The host's callbacks only count, so the figures are the
// plug-in's own work plus six trivial calls.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "input/gcode_line.h"
#include "unit/poll_workload.h"

namespace {
long g_allocations = 0;
}

// GCC cannot see that these replace the global pair and warns about the
// malloc/free inside them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

void BM_DecodeReport(benchmark::State& state) {
    const int function = static_cast<int>(state.range(0));
    hk4::testing::PollWorkload work(function);
    work.Quiet();
    for (int i = 0; i < 4 * hk4::testing::PollWorkload::kCycle; ++i) work.Poll();  // warm up
    const long callsBefore = work.rig().host.calls;
    const long allocationsBefore = g_allocations;
    for (auto _ : state) work.Poll();
    const double polls = static_cast<double>(state.iterations());
    state.counters["allocs"] = static_cast<double>(g_allocations - allocationsBefore);
    state.counters["host_calls_per_poll"] =
        static_cast<double>(work.rig().host.calls - callsBefore) / polls;
}
BENCHMARK(BM_DecodeReport)->DenseRange(1, 6)->ArgName("function");

void BM_StepLine(benchmark::State& state) {
    hk4::GCodeLine line;
    double d = -0.003;
    for (auto _ : state) {
        hk4::FormatFeedStepLine(line, 100, 'Z', d);
        benchmark::DoNotOptimize(line.c_str());
        d += 0.001;
    }
}
BENCHMARK(BM_StepLine);

// The same line with the C library, for comparison (locale-dependent, and
// needs a buffer size guess).
void BM_StepLineSnprintf(benchmark::State& state) {
    char text[400];
    double d = -0.003;
    for (auto _ : state) {
        std::snprintf(text, sizeof text, "G91G1 F%d %s %.4f", 100, "Z", d);
        benchmark::DoNotOptimize(text);
        d += 0.001;
    }
}
BENCHMARK(BM_StepLineSnprintf);

}  // namespace

BENCHMARK_MAIN();
