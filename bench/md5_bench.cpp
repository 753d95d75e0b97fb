// Micro-benchmark of md5_update with each compression kernel this processor runs, on 64 B, 4 KiB
// and 1 MiB buffers. Reports bytes per second and, on x86, cycles per byte of the fastest
// stretch of iterations (the least disturbed by other work on the machine): "tsc/B" in
// time-stamp-counter ticks, which run at the nominal clock, and "cycles/B" in core cycles,
// converting with the ratio of the two clocks measured at start on a chain of dependent additions.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "md5/md5.h"
#include "md5/md5_kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define MD5_BENCH_HAVE_TSC 1
#endif

namespace {

#ifdef MD5_BENCH_HAVE_TSC
// Time-stamp-counter ticks per core cycle: a chain of dependent additions runs one per cycle.
double tsc_per_core_cycle() {
    constexpr int loops = 10000, adds_per_loop = 100;
    uint64_t best = UINT64_MAX;
    for (int r = 0; r < 20; ++r) {
        uint32_t x = 1;
        uint64_t t0 = __rdtsc();
        for (int i = 0; i < loops; ++i) asm volatile(".rept 100\n add %0, %0\n .endr" : "+r"(x));
        uint64_t t = __rdtsc() - t0;
        if (t < best) best = t;
    }
    return double(best) / (double(loops) * adds_per_loop);
}

double tsc_ratio = 1; // set in main
#endif

// Feeds state.range(0) bytes per iteration to one running context with the given kernel forced.
void bench_update(benchmark::State& state, const char* kernel) {
    if (md5_force_kernel(kernel) != 0) {
        state.SkipWithError("kernel not supported");
        return;
    }
    size_t size = size_t(state.range(0));
    std::vector<uint8_t> buffer(size);
    for (size_t i = 0; i < size; ++i) buffer[i] = uint8_t(i * 131 + 7);
    md5_context context;
    md5_init(&context);
#ifdef MD5_BENCH_HAVE_TSC
    // Iterations are timed in windows of about 64 KiB, so that the clock reads cost little and
    // small updates overlapping one another in the processor are measured as a steady stream.
    const int64_t window = size >= 65536 ? 1 : int64_t(65536 / size);
    int64_t in_window = 0;
    uint64_t best = UINT64_MAX;
    uint64_t window_start = __rdtsc();
#endif
    for (auto _ : state) {
        md5_update(&context, buffer.data(), uint32_t(size));
        benchmark::DoNotOptimize(context.state);
#ifdef MD5_BENCH_HAVE_TSC
        if (++in_window == window) {
            uint64_t t = __rdtsc();
            if (t - window_start < best) best = t - window_start;
            window_start = t;
            in_window = 0;
        }
#endif
    }
    uint8_t digest[16];
    md5_final(digest, &context);
    benchmark::DoNotOptimize(digest);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
#ifdef MD5_BENCH_HAVE_TSC
    double per_byte = double(best) / double(window * int64_t(size));
    if (best != UINT64_MAX) {
        state.counters["tsc/B"] = per_byte;
        state.counters["cycles/B"] = per_byte / tsc_ratio;
    }
#endif
    md5_force_kernel(nullptr);
}

} // namespace

int main(int argc, char** argv) {
    for (const md5_kernel& k : md5_kernel_table) {
        if (!k.supported()) continue;
        std::string name = std::string("md5_update/") + k.name;
        benchmark::RegisterBenchmark(name.c_str(), bench_update, k.name)
            ->Arg(64)
            ->Arg(4096)
            ->Arg(1 << 20);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::printf("automatic kernel choice: %s\n", md5_kernel_name());
#ifdef MD5_BENCH_HAVE_TSC
    tsc_ratio = tsc_per_core_cycle();
    std::printf("time-stamp-counter ticks per core cycle: %.3f\n", tsc_ratio);
#endif
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
