// Micro-benchmark of the MD5 kernels this processor runs: md5_update with each single-stream
// kernel on 64 B, 4 KiB and 1 MiB buffers; each multi-buffer kernel on 4 KiB per lane (bytes
// summed over all lanes), the lanes' buffers staggered and exactly 4 KiB apart; md5_digest_batch on
// 10,000 messages of 1 to 8 KiB (MESSAGES=N in the environment for another count: 45 MB of messages
// stream from memory, 500 stay in the cache) in calls of 16, 32, 48, 64 or all messages, with the
// automatic choice and with each multi-buffer kernel forced. Reports bytes per second and, on x86,
// cycles per byte of the fastest stretch of iterations (the least disturbed by other work on the
// machine): "tsc/B" in time-stamp-counter ticks, which run at the nominal clock, and "cycles/B" in
// core cycles, converting with the ratio of the two clocks measured at start on a chain of
// dependent additions.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "md5/md5.h"
#include "md5/md5_dispatch.h"

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

// The fastest window of iterations, in time-stamp-counter ticks: call tick() after each iteration.
struct window_timer {
    int64_t window;
    int64_t in_window = 0;
    uint64_t best = UINT64_MAX;
    uint64_t start = 0;
#ifdef MD5_BENCH_HAVE_TSC
    explicit window_timer(int64_t iterations) : window(iterations), start(__rdtsc()) {}
    void tick() {
        if (++in_window < window) return;
        uint64_t t = __rdtsc();
        if (t - start < best) best = t - start;
        start = t;
        in_window = 0;
    }
    // Sets the per-byte counters for bytes_per_iteration.
    void report(benchmark::State& state, double bytes_per_iteration) const {
        if (best == UINT64_MAX) return;
        double per_byte = double(best) / (double(window) * bytes_per_iteration);
        state.counters["tsc/B"] = per_byte;
        state.counters["cycles/B"] = per_byte / tsc_ratio;
    }
#else
    explicit window_timer(int64_t iterations) : window(iterations) {}
    void tick() {}
    void report(benchmark::State&, double) const {}
#endif
};

// Feeds state.range(0) bytes per iteration to one running context with the given kernel forced.
void bench_update(benchmark::State& state, const char* kernel) {
    if (md5_force_kernel(MD5_SINGLE_STREAM, kernel) != 0) {
        state.SkipWithError("kernel not supported");
        return;
    }
    size_t size = size_t(state.range(0));
    std::vector<uint8_t> buffer(size);
    for (size_t i = 0; i < size; ++i) buffer[i] = uint8_t(i * 131 + 7);
    md5_context context;
    md5_init(&context);
    // Iterations are timed in windows of about 64 KiB, so that the clock reads cost little and
    // small updates overlapping one another in the processor are measured as a steady stream.
    window_timer timer(size >= 65536 ? 1 : int64_t(65536 / size));
    for (auto _ : state) {
        md5_update(&context, buffer.data(), uint32_t(size));
        benchmark::DoNotOptimize(context.state);
        timer.tick();
    }
    uint8_t digest[16];
    md5_final(digest, &context);
    benchmark::DoNotOptimize(digest);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
    timer.report(state, double(size));
    md5_force_kernel(MD5_SINGLE_STREAM, nullptr);
}

// One call of the multi-buffer kernel per iteration: 64 blocks (4 KiB) into each lane. With
// state.range(0) = 0 the lanes' blocks lie 4 KiB + 5 lines apart, so that their reads spread over
// the first-level cache's sets; with 1 exactly 4 KiB apart, so that every lane's block falls in
// the same set and more lanes than the set has ways (8 of 32 KiB on AMD family 19h) evict each
// other: lane buffers at a power-of-two stride cost the kernels much of their speed.
void bench_multi(benchmark::State& state, const md5_multi_kernel* kernel) {
    constexpr size_t blocks = 64;
    size_t stride = 64 * blocks + (state.range(0) ? 0 : 5 * 64);
    std::vector<uint8_t> buffer(kernel->lanes * stride);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = uint8_t(i * 131 + 7);
    std::vector<const uint8_t*> data(kernel->lanes);
    for (size_t l = 0; l < kernel->lanes; ++l) data[l] = buffer.data() + l * stride;
    std::vector<uint32_t> chaining(4 * kernel->lanes, 0x67452301);
    window_timer timer(1);
    for (auto _ : state) {
        kernel->run(chaining.data(), data.data(), blocks);
        benchmark::DoNotOptimize(chaining.data());
        timer.tick();
    }
    double bytes = double(kernel->lanes * 64 * blocks);
    state.SetBytesProcessed(int64_t(double(state.iterations()) * bytes));
    timer.report(state, bytes);
}

// 10,000 messages of 1 to 8 KiB (lengths drawn at random) through md5_digest_batch per
// iteration, state.range(0) messages per call, with the given multi-buffer kernel forced (null:
// the automatic choice).
void bench_batch(benchmark::State& state, const char* kernel) {
    if (md5_force_kernel(MD5_MULTI_BUFFER, kernel) != 0) {
        state.SkipWithError("kernel not supported");
        return;
    }
    std::mt19937 generator(1);
    size_t per_call = size_t(state.range(0));
    const char* override_count = std::getenv("MESSAGES");
    std::vector<md5_message> messages(override_count ? std::strtoul(override_count, nullptr, 10)
                                                     : 10000);
    uint64_t total = 0;
    for (md5_message& m : messages) {
        m.length = 1024 + generator() % (7 * 1024 + 1);
        total += m.length;
    }
    std::vector<uint8_t> buffer(total);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = uint8_t(i * 131 + 7);
    uint64_t at = 0;
    for (md5_message& m : messages) {
        m.data = buffer.data() + at;
        at += m.length;
    }
    window_timer timer(1);
    for (auto _ : state) {
        for (size_t first = 0; first < messages.size(); first += per_call) {
            md5_digest_batch(messages.data() + first, std::min(per_call, messages.size() - first));
        }
        benchmark::DoNotOptimize(messages.data());
        timer.tick();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(total));
    timer.report(state, double(total));
    md5_force_kernel(MD5_MULTI_BUFFER, nullptr);
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
    for (const md5_multi_kernel& k : md5_multi_kernel_table) {
        if (!k.supported()) continue;
        std::string name = std::string("multi/") + k.name;
        benchmark::RegisterBenchmark(name.c_str(), bench_multi, &k)
            ->ArgName("4k_apart")
            ->Arg(0)
            ->Arg(1);
    }
    std::vector<const char*> batch_kernels = {nullptr};
    for (const md5_multi_kernel& k : md5_multi_kernel_table) {
        if (k.supported()) batch_kernels.push_back(k.name);
    }
    for (const char* kernel : batch_kernels) {
        std::string name = std::string("batch_1-8KiB/") + (kernel ? kernel : "automatic");
        benchmark::RegisterBenchmark(name.c_str(), bench_batch, kernel)
            ->Arg(16)
            ->Arg(32)
            ->Arg(48)
            ->Arg(64)
            ->Arg(10000);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::printf("automatic kernel choice: single-stream %s; multi-buffer by messages per batch:",
                md5_kernel_name());
    for (size_t streams : {1, 8, 16, 32, 64}) {
        std::printf(" %zu %s", streams, md5_multi_kernel_for(streams)->name);
    }
    std::printf("\n");
#ifdef MD5_BENCH_HAVE_TSC
    tsc_ratio = tsc_per_core_cycle();
    std::printf("time-stamp-counter ticks per core cycle: %.3f\n", tsc_ratio);
#endif
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
