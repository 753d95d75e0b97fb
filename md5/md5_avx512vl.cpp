// The AVX-512VL compression kernel. The four chaining words each live in the lowest 32-bit lane
// of a vector register, where every round function is one three-input logic instruction and the
// rotation one instruction, so each step is 4 dependent operations after b arrives. The sums of
// message word and constant for all 64 steps are made with whole-block vector operations first,
// off the dependency chain.
#include "md5/md5_kernels.h"

#ifdef MD5_HAVE_AVX512VL_KERNEL

#include <cpuid.h>
#include <immintrin.h>

#include <cstring>
#include <utility>

#include "md5/md5_steps.h"

#define MD5_AVX512VL_TARGET __attribute__((target("avx512f,avx512vl")))

namespace {

// The truth tables of the round functions of (b, c, d) for the three-input logic instruction,
// whose operands b, c, d stand for the bit patterns 0xf0, 0xcc, 0xaa.
constexpr int ternary_f = 0xca; // (b & c) | (~b & d)
constexpr int ternary_g = 0xe4; // (b & d) | (c & ~d)
constexpr int ternary_h = 0x96; // b ^ c ^ d
constexpr int ternary_i = 0x39; // c ^ (b | ~d)
constexpr int ternary_by_round[4] = {ternary_f, ternary_g, ternary_h, ternary_i};

// Step I on the low lanes of (a, b, c, d): a = b + rotl(a + word + sine + f(b, c, d), s), with
// wk[I] holding word + sine.
template <int I>
MD5_AVX512VL_TARGET inline void step(__m128i& a, __m128i b, __m128i c, __m128i d,
                                     const uint32_t* wk) {
    __m128i early = _mm_add_epi32(a, _mm_cvtsi32_si128(int(wk[I])));
    // Keeps the compiler from adding f to the word first and a last, a longer chain.
    asm("" : "+v"(early));
    __m128i f = _mm_ternarylogic_epi32(b, c, d, ternary_by_round[I / 16]);
    a = _mm_add_epi32(_mm_rol_epi32(_mm_add_epi32(early, f), md5_shift[I]), b);
}

// The 64 steps on v = (A, B, C, D); each step's (a, b, c, d) are v turned by one more place.
template <size_t... I>
MD5_AVX512VL_TARGET inline void all_steps(__m128i v[4], const uint32_t* wk,
                                          std::index_sequence<I...>) {
    (step<int(I)>(v[(64 - I) & 3], v[(65 - I) & 3], v[(66 - I) & 3], v[(67 - I) & 3], wk), ...);
}

// The unmasked forms of these two intrinsics read an "undefined" source that some compilers warn
// about; the all-lanes zero-masked forms are the same instructions.
constexpr __mmask16 all_lanes = 0xffff;

// Fills wk[16 r + j] with message word md5_word_index[16 r + j] of block plus md5_sine[16 r + j].
MD5_AVX512VL_TARGET inline void word_sums(uint32_t* wk, const uint8_t* block) {
    __m512i words = _mm512_loadu_si512(block);
    for (int r = 0; r < 4; ++r) {
        __m512i order = _mm512_maskz_cvtepu8_epi32(
            all_lanes, _mm_loadu_si128(reinterpret_cast<const __m128i*>(md5_word_index + 16 * r)));
        __m512i sine = _mm512_loadu_si512(md5_sine + 16 * r);
        _mm512_storeu_si512(
            wk + 16 * r,
            _mm512_add_epi32(_mm512_maskz_permutexvar_epi32(all_lanes, order, words), sine));
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

bool md5_avx512vl_preferred() {
    if (!md5_avx512vl_supported()) return false;
    unsigned eax, ebx, ecx, edx;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) return false;
    bool intel = ebx == 0x756e6547 && edx == 0x49656e69 && ecx == 0x6c65746e; // GenuineIntel
    bool amd = ebx == 0x68747541 && edx == 0x69746e65 && ecx == 0x444d4163;   // AuthenticAMD
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    unsigned family = (eax >> 8) & 0xf;
    if (family == 0xf) family += (eax >> 20) & 0xff;
    // One-cycle vector adds, rotates and logic: every Intel processor with AVX-512, and AMD family
    // 19h. AMD family 1Ah takes two cycles for each, which makes this kernel twice as slow as the
    // scalar one there; later families are not known, so they get the scalar kernel too.
    return intel || (amd && family == 0x19);
}

#endif
