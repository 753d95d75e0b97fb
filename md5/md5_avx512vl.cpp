// The AVX-512VL single-stream kernel. The four chaining words each live in the lowest 32-bit lane
// of a vector register, where every round function is one three-input logic instruction and the
// rotation one instruction, so each step is 4 dependent operations after b arrives.
//
// No 512-bit instruction is used: one makes Intel cores lower their clock and, while it is in
// flight, give up one of their three vector ports, and the whole-block sums of message word and
// constant did exactly that once per block. They are made in 256-bit registers instead.
#include "md5/md5_kernels.h"

#ifdef MD5_HAVE_X86_KERNELS

#include <immintrin.h>

#include <cstring>
#include <utility>

#include "md5/md5_steps.h"

#define MD5_AVX512VL_TARGET __attribute__((target("avx512f,avx512vl")))

namespace {

// The truth table of f(b, c, d) for the three-input logic instruction with its operands in the
// order (c, d, b). The instruction overwrites its first operand, which the compiler therefore
// copies first. With b first (the original order) that copy of b, just computed, sat on the
// dependency chain; with c first it copies c, ready a whole step before b, off the chain. On AMD
// family 1Ah, where this kernel is not a candidate, the order changes the latency (b first 7.9
// cycles per byte, c or d first 9.4-9.6); on Intel cores the order was measured not to matter, so
// the one without a move on the chain is kept.
template <typename F>
constexpr int truth_table_cdb(F f) {
    return f(0xaa, 0xf0, 0xcc) & 0xff;
}

constexpr int ternary_by_round[4] = {
    truth_table_cdb([](int b, int c, int d) { return (b & c) | (~b & d); }),
    truth_table_cdb([](int b, int c, int d) { return (b & d) | (c & ~d); }),
    truth_table_cdb([](int b, int c, int d) { return b ^ c ^ d; }),
    truth_table_cdb([](int b, int c, int d) { return c ^ (b | ~d); }),
};

// Step I on the low lanes of (a, b, c, d): a = b + rotl(a + word + sine + f(b, c, d), s), with
// wk[I] holding word + sine.
template <int I>
MD5_AVX512VL_TARGET inline void step(__m128i& a, __m128i b, __m128i c, __m128i d,
                                     const uint32_t* wk) {
    __m128i early = _mm_add_epi32(a, _mm_cvtsi32_si128(int(wk[I])));
    // Keeps the compiler from adding f to the word first and a last, a longer chain.
    asm("" : "+v"(early));
    __m128i f = _mm_ternarylogic_epi32(c, d, b, ternary_by_round[I / 16]);
    a = _mm_add_epi32(_mm_rol_epi32(_mm_add_epi32(early, f), md5_shift[I]), b);
}

// The 64 steps on v = (A, B, C, D); each step's (a, b, c, d) are v turned by one more place.
template <size_t... I>
MD5_AVX512VL_TARGET inline void all_steps(__m128i v[4], const uint32_t* wk,
                                          std::index_sequence<I...>) {
    (step<int(I)>(v[(64 - I) & 3], v[(65 - I) & 3], v[(66 - I) & 3], v[(67 - I) & 3], wk), ...);
}

// md5_word_index widened to 32 bits, for the two-register permutation.
struct word_order_table {
    alignas(32) int32_t index[64];
};
constexpr word_order_table word_order = [] {
    word_order_table t{};
    for (int i = 0; i < 64; ++i) t.index[i] = md5_word_index[i];
    return t;
}();

// Fills wk[i] with message word md5_word_index[i] of block plus md5_sine[i]: eight permutations
// of the block's two 256-bit halves, each picking 8 of its 16 words.
MD5_AVX512VL_TARGET inline void word_sums(uint32_t* wk, const uint8_t* block) {
    __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
    __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32));
    for (int i = 0; i < 64; i += 8) {
        __m256i order = _mm256_load_si256(reinterpret_cast<const __m256i*>(word_order.index + i));
        __m256i sine = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(md5_sine + i));
        __m256i words = _mm256_permutex2var_epi32(low, order, high);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(wk + i), _mm256_add_epi32(words, sine));
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
    return md5_x86_has(MD5_X86_AVX512F) && md5_x86_has(MD5_X86_AVX512VL);
}

bool md5_avx512vl_candidate() {
    if (!md5_avx512vl_supported()) return false;
    md5_x86_identity id = md5_x86_identify();
    // One-cycle vector adds, rotates and logic: every Intel processor with AVX-512, and AMD family
    // 19h; whether that beats the scalar kernel is measured. AMD family 1Ah takes two cycles for
    // each, which makes this kernel twice as slow as the scalar one there; later families are not
    // known, so they get the scalar kernel too.
    return id.intel || (id.amd && id.family == 0x19);
}

#endif
