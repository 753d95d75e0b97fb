// The AVX2 multi-buffer kernels: 8 states in the 32-bit lanes of 256-bit registers. AVX2 has
// neither a rotation nor a three-input logic instruction, so each round function is split as the
// scalar kernel splits it: whatever does not need b is computed beforehand, off the chain.
#include "md5/md5_kernels.h"

#ifdef MD5_HAVE_X86_KERNELS

#include <immintrin.h>

#define MD5_MULTI_TARGET __attribute__((target("avx2")))
#include "md5/md5_multi_steps.h"

namespace {

struct avx2_ops {
    using vec = __m256i;
    static constexpr int lanes = 8;

    MD5_MULTI_TARGET static vec add(vec x, vec y) { return _mm256_add_epi32(x, y); }
    // In assembly, so that the compiler cannot turn a known constant back into an immediate.
    MD5_MULTI_TARGET static vec broadcast(const uint32_t* p) {
        vec x;
        asm("vpbroadcastd %1, %0" : "=x"(x) : "m"(*p));
        return x;
    }
    template <int S>
    MD5_MULTI_TARGET static vec rotl(vec x) {
        return _mm256_or_si256(_mm256_slli_epi32(x, S), _mm256_srli_epi32(x, 32 - S));
    }
    template <int R>
    MD5_MULTI_TARGET static vec round(vec& without_b, vec b, vec c, vec d) {
        if constexpr (R == 0)
            return _mm256_xor_si256(_mm256_and_si256(_mm256_xor_si256(c, d), b), d);
        if constexpr (R == 1) {
            // (b & d) | (c & ~d): the halves are disjoint, so they are added one by one.
            without_b = _mm256_add_epi32(without_b, _mm256_andnot_si256(d, c));
            return _mm256_and_si256(b, d);
        }
        if constexpr (R == 2) return _mm256_xor_si256(_mm256_xor_si256(c, d), b);
        // c ^ (b | ~d)
        vec not_d = _mm256_xor_si256(d, _mm256_set1_epi32(-1));
        return _mm256_xor_si256(_mm256_or_si256(not_d, b), c);
    }
    MD5_MULTI_TARGET static vec load(const uint32_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    MD5_MULTI_TARGET static void store(uint32_t* p, vec x) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), x);
    }

    // Each half block (8 words) of the 8 lanes is an 8 x 8 transposition in three rounds.
    MD5_MULTI_TARGET static void load_words(vec* words, const uint8_t* const* data, size_t offset) {
        for (int half = 0; half < 2; ++half) {
            vec r[8], t[8], u[8];
            for (int l = 0; l < 8; ++l) {
                r[l] = _mm256_loadu_si256(
                    reinterpret_cast<const __m256i*>(data[l] + offset + 32 * half));
            }
            for (int l = 0; l < 8; l += 2) {
                t[l] = _mm256_unpacklo_epi32(r[l], r[l + 1]);
                t[l + 1] = _mm256_unpackhi_epi32(r[l], r[l + 1]);
            }
            // u[4q + m], 128-bit half k: word 4k + m of rows 4q to 4q + 3.
            for (int q = 0; q < 8; q += 4) {
                u[q] = _mm256_unpacklo_epi64(t[q], t[q + 2]);
                u[q + 1] = _mm256_unpackhi_epi64(t[q], t[q + 2]);
                u[q + 2] = _mm256_unpacklo_epi64(t[q + 1], t[q + 3]);
                u[q + 3] = _mm256_unpackhi_epi64(t[q + 1], t[q + 3]);
            }
            for (int m = 0; m < 4; ++m) {
                words[8 * half + m] = _mm256_permute2x128_si256(u[m], u[4 + m], 0x20);
                words[8 * half + 4 + m] = _mm256_permute2x128_si256(u[m], u[4 + m], 0x31);
            }
        }
    }
};

} // namespace

MD5_MULTI_TARGET void md5_multi_avx2(uint32_t* state, const uint8_t* const* data, size_t count) {
    multi_blocks<avx2_ops, 1>(state, data, count);
}

MD5_MULTI_TARGET void md5_multi_avx2x2(uint32_t* state, const uint8_t* const* data, size_t count) {
    multi_blocks<avx2_ops, 2>(state, data, count);
}

#endif
