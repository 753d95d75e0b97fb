// The compression kernels: each compresses whole 64-byte blocks into chaining values and nothing
// else. Which one runs is md5_dispatch's choice; no kernel asks anything of the processor.
//
// Single-stream kernels read one message's blocks straight from the caller's memory (any
// alignment, words read least significant byte first whatever the host's byte order).
// Multi-buffer kernels advance several independent states at once, one per 32-bit lane of a
// vector register; the "x2" and "x3" kernels interleave two or three groups of lanes, so that
// independent dependency chains hide each other's latency.
#pragma once

#include <cstddef>
#include <cstdint>

// A single-stream kernel's entry: compresses count consecutive 64-byte blocks into state.
using md5_kernel_fn = void (*)(uint32_t state[4], const uint8_t* blocks, size_t count);

// A multi-buffer kernel's entry: compresses count blocks into each of its lanes' states. Lane l's
// chaining words A, B, C, D are state[l], state[lanes + l], state[2 * lanes + l],
// state[3 * lanes + l]; its count consecutive blocks start at data[l].
using md5_multi_fn = void (*)(uint32_t* state, const uint8_t* const* data, size_t count);

// The most lanes of any multi-buffer kernel.
inline constexpr size_t md5_max_lanes = 48;

// The vector kernels need an x86 compiler that can target those instructions per function.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__has_include)
#if __has_include(<immintrin.h>) &&                                                              \
    ((defined(__clang__) && __clang_major__ >= 5) || (!defined(__clang__) && __GNUC__ >= 6))
#define MD5_HAVE_X86_KERNELS 1
#endif
#endif

// The portable compression function, one block at a time (md5_transform): the reference.
void md5_blocks_portable(uint32_t state[4], const uint8_t* blocks, size_t count);
// The scalar kernel with the shortened dependency chain; runs on any processor.
void md5_blocks_scalar(uint32_t state[4], const uint8_t* blocks, size_t count);
// Four lanes, each by itself with the scalar kernel: the multi-buffer fallback for any processor.
void md5_multi_portable(uint32_t* state, const uint8_t* const* data, size_t count);

#ifdef MD5_HAVE_X86_KERNELS
// 16 lanes of AVX-512F, 32 as two groups of 16, 48 as three; 8 lanes of AVX2, 16 as two groups
// of 8. Only for a processor whose AVX-512F or AVX2 the operating system supports.
void md5_multi_avx512(uint32_t* state, const uint8_t* const* data, size_t count);
void md5_multi_avx512x2(uint32_t* state, const uint8_t* const* data, size_t count);
void md5_multi_avx512x3(uint32_t* state, const uint8_t* const* data, size_t count);
void md5_multi_avx2(uint32_t* state, const uint8_t* const* data, size_t count);
void md5_multi_avx2x2(uint32_t* state, const uint8_t* const* data, size_t count);
#endif
