// The AVX-512VL single-stream kernel. The four chaining words each live in the lowest 32-bit lane
// of a vector register, where every round function is one three-input logic instruction and the
// rotation one instruction, so each step is 4 dependent operations after b arrives.
//
// Only 128-bit registers are used: a 512-bit instruction makes Intel cores lower their clock and,
// while it is in flight, give up one of their three vector ports, and the whole-block vector
// sums of message word and constant did exactly that once per block. The sums are made with
// general-purpose instructions instead and read back one by one, each load from one store of its
// own size, so that the stores forward.
#include "md5/md5_kernels.h"

#ifdef MD5_HAVE_X86_KERNELS

#include <cpuid.h>
#include <immintrin.h>

#include <cstring>
#include <utility>

#include "md5/md5_steps.h"

#define MD5_AVX512VL_TARGET __attribute__((target("avx512f,avx512vl")))

namespace {

// The truth table of f(b, c, d) for the three-input logic instruction with its operands in the
// order (d, b, c). The instruction overwrites its first operand: d is ready three steps before b,
// so the copy that keeps d alive for the next step is made off the dependency chain. With b first,
// the copy of b (just computed) sat on the chain.
template <typename F>
constexpr int truth_table_dbc(F f) {
    return f(0xcc, 0xaa, 0xf0) & 0xff;
}

constexpr int ternary_by_round[4] = {
    truth_table_dbc([](int b, int c, int d) { return (b & c) | (~b & d); }),
    truth_table_dbc([](int b, int c, int d) { return (b & d) | (c & ~d); }),
    truth_table_dbc([](int b, int c, int d) { return b ^ c ^ d; }),
    truth_table_dbc([](int b, int c, int d) { return c ^ (b | ~d); }),
};

// Step I on the low lanes of (a, b, c, d): a = b + rotl(a + word + sine + f(b, c, d), s), with
// wk[I] holding word + sine.
template <int I>
MD5_AVX512VL_TARGET inline void step(__m128i& a, __m128i b, __m128i c, __m128i d,
                                     const uint32_t* wk) {
    __m128i early = _mm_add_epi32(a, _mm_cvtsi32_si128(int(wk[I])));
    // Keeps the compiler from adding f to the word first and a last, a longer chain.
    asm("" : "+v"(early));
    __m128i f = _mm_ternarylogic_epi32(d, b, c, ternary_by_round[I / 16]);
    a = _mm_add_epi32(_mm_rol_epi32(_mm_add_epi32(early, f), md5_shift[I]), b);
}

// The 64 steps on v = (A, B, C, D); each step's (a, b, c, d) are v turned by one more place.
template <size_t... I>
MD5_AVX512VL_TARGET inline void all_steps(__m128i v[4], const uint32_t* wk,
                                          std::index_sequence<I...>) {
    (step<int(I)>(v[(64 - I) & 3], v[(65 - I) & 3], v[(66 - I) & 3], v[(67 - I) & 3], wk), ...);
}

// Fills wk[i] with message word md5_word_index[i] of block plus md5_sine[i], in general-purpose
// registers: the empty statement keeps the compiler from turning the loop into vector code.
inline void word_sums(uint32_t* wk, const uint8_t* block) {
    for (int i = 0; i < 64; ++i) {
        uint32_t w;
        std::memcpy(&w, block + 4 * md5_word_index[i], sizeof w);
        asm("" : "+r"(w));
        wk[i] = w + md5_sine[i];
    }
}

} // namespace

MD5_AVX512VL_TARGET void md5_blocks_avx512vl(uint32_t state[4], const uint8_t* blocks,
                                             size_t count) {
    __m128i v[4];
    for (int i = 0; i < 4; ++i) v[i] = _mm_cvtsi32_si128(int(state[i]));
    alignas(64) uint32_t wk[64];
    for (size_t n = 0; n < count; ++n, blocks += 64) {
        word_sums(wk, blocks);
        __m128i start[4] = {v[0], v[1], v[2], v[3]};
        all_steps(v, wk, std::make_index_sequence<64>());
        for (int i = 0; i < 4; ++i) v[i] = _mm_add_epi32(v[i], start[i]);
    }
    for (int i = 0; i < 4; ++i) state[i] = uint32_t(_mm_cvtsi128_si32(v[i]));
    // The sums reveal the message words: clear them, as the portable transform clears its words.
    std::memset(wk, 0, sizeof wk);
    asm volatile("" : : "r"(wk) : "memory");
}

bool md5_avx512vl_supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
}

bool md5_avx512vl_candidate() {
    if (!md5_avx512vl_supported()) return false;
    unsigned eax, ebx, ecx, edx;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) return false;
    bool intel = ebx == 0x756e6547 && edx == 0x49656e69 && ecx == 0x6c65746e; // GenuineIntel
    bool amd = ebx == 0x68747541 && edx == 0x69746e65 && ecx == 0x444d4163;   // AuthenticAMD
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    unsigned family = (eax >> 8) & 0xf;
    if (family == 0xf) family += (eax >> 20) & 0xff;
    // One-cycle vector adds, rotates and logic: every Intel processor with AVX-512, and AMD family
    // 19h; whether that beats the scalar kernel is measured. AMD family 1Ah takes two cycles for
    // each, which makes this kernel twice as slow as the scalar one there; later families are not
    // known, so they get the scalar kernel too.
    return intel || (amd && family == 0x19);
}

#endif
