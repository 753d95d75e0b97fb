// The compression kernels behind md5_update: each compresses whole 64-byte blocks into the
// chaining values, reading the blocks straight from the caller's memory (any alignment, words
// read least significant byte first whatever the host's byte order).
//
// MD5 is one long dependency chain, so a kernel's speed is set by the latency of each of its 64
// steps. The scalar kernel orders every step so that the word from the previous step enters as
// late as possible (4.5 dependent operations per step on average); the AVX-512VL kernel does
// each round function in one three-input logic instruction (4 per step). Which is faster depends
// on the latency of the processor's vector operations, so the kernel is chosen on first use from
// what the processor is.
#pragma once

#include <cstddef>
#include <cstdint>

// Compresses count consecutive 64-byte blocks into state with the kernel chosen for this processor.
void md5_process_blocks(uint32_t state[4], const uint8_t* blocks, size_t count);

// A kernel's entry: compresses count consecutive 64-byte blocks into state.
using md5_kernel_fn = void (*)(uint32_t state[4], const uint8_t* blocks, size_t count);

// One compression kernel: its name, its entry, whether this processor can run it, and whether
// the automatic choice should take it on this processor.
struct md5_kernel {
    const char* name;
    md5_kernel_fn run;
    bool (*supported)();
    bool (*preferred)();
};

// The AVX-512VL kernel needs an x86 compiler that can target those instructions per function.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__has_include)
#if __has_include(<immintrin.h>) &&                                                              \
    ((defined(__clang__) && __clang_major__ >= 5) || (!defined(__clang__) && __GNUC__ >= 6))
#define MD5_HAVE_AVX512VL_KERNEL 1
#endif
#endif

// The portable compression function of the engine, one block at a time: the reference.
void md5_blocks_portable(uint32_t state[4], const uint8_t* blocks, size_t count);
// The scalar kernel with the shortened dependency chain; runs on any processor.
void md5_blocks_scalar(uint32_t state[4], const uint8_t* blocks, size_t count);
// True: a kernel that any processor can run.
bool md5_kernel_always();
#ifdef MD5_HAVE_AVX512VL_KERNEL
// The kernel on one 32-bit lane of a vector register with AVX-512VL logic and rotates.
void md5_blocks_avx512vl(uint32_t state[4], const uint8_t* blocks, size_t count);
// True when the processor and the operating system support AVX-512F and AVX-512VL.
bool md5_avx512vl_supported();
// True when supported and the processor is one whose simple vector operations take one cycle, so
// that this kernel beats the scalar one. Where they take two, it runs at about half the speed.
bool md5_avx512vl_preferred();
#endif

// Every kernel; the automatic choice is the first one whose preferred() is true.
inline constexpr md5_kernel md5_kernel_table[] = {
#ifdef MD5_HAVE_AVX512VL_KERNEL
    {"avx512vl", md5_blocks_avx512vl, md5_avx512vl_supported, md5_avx512vl_preferred},
#endif
    {"scalar", md5_blocks_scalar, md5_kernel_always, md5_kernel_always},
    {"portable", md5_blocks_portable, md5_kernel_always, md5_kernel_always},
};

// Makes md5_process_blocks use the named kernel from now on; a null name goes back to the
// automatic choice. Returns 0, or -1 (nothing changed) for an unknown or unsupported name.
// For tests and benchmarks; the programs never call it.
int md5_force_kernel(const char* name);
// The name of the kernel md5_process_blocks uses now (choosing it if not yet chosen).
const char* md5_kernel_name();
