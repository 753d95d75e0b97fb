// The AVX-512F multi-buffer kernels: 16 states in the 32-bit lanes of 512-bit registers, each
// round function one three-input logic instruction, the rotation one instruction. The message
// words arrive by loading each lane's block as one row and transposing the 16 x 16 words.
#include "md5/md5_kernels.h"

#ifdef MD5_HAVE_X86_KERNELS

#include <immintrin.h>

#define MD5_MULTI_TARGET __attribute__((target("avx512f")))
#include "md5/md5_multi_steps.h"

namespace {

// The three-input logic instruction's truth table for f(b, c, d) with the operands in the order
// (b, c, d). The instruction overwrites its first operand, so the compiler copies b first; it is
// still faster with b, the operand that arrives last, first.
template <typename F>
constexpr int truth_table_bcd(F f) {
    return f(0xf0, 0xcc, 0xaa) & 0xff;
}

// The unmasked forms of several intrinsics read an "undefined" source that some compilers warn
// about; the all-lanes zero-masked forms are the same instructions.
constexpr __mmask16 all_lanes = 0xffff;
constexpr __mmask8 all_quads = 0xff;

struct avx512_ops {
    using vec = __m512i;
    static constexpr int lanes = 16;

    MD5_MULTI_TARGET static vec add(vec x, vec y) { return _mm512_add_epi32(x, y); }
    // In assembly, so that the compiler cannot turn a known constant back into an immediate.
    MD5_MULTI_TARGET static vec broadcast(const uint32_t* p) {
        vec x;
        asm("vpbroadcastd %1, %0" : "=v"(x) : "m"(*p));
        return x;
    }
    template <int S>
    MD5_MULTI_TARGET static vec rotl(vec x) {
        return _mm512_maskz_rol_epi32(all_lanes, x, S);
    }
    template <int R>
    MD5_MULTI_TARGET static vec round(vec&, vec b, vec c, vec d) {
        constexpr int table[4] = {
            truth_table_bcd([](int x, int y, int z) { return (x & y) | (~x & z); }),
            truth_table_bcd([](int x, int y, int z) { return (x & z) | (y & ~z); }),
            truth_table_bcd([](int x, int y, int z) { return x ^ y ^ z; }),
            truth_table_bcd([](int x, int y, int z) { return y ^ (x | ~z); }),
        };
        return _mm512_ternarylogic_epi32(b, c, d, table[R]);
    }
    MD5_MULTI_TARGET static vec load(const uint32_t* p) { return _mm512_loadu_si512(p); }
    MD5_MULTI_TARGET static void store(uint32_t* p, vec x) { _mm512_storeu_si512(p, x); }

    // Rows r[l] = lane l's 16 words; four rounds of interleaving make column j = word j.
    MD5_MULTI_TARGET static void load_words(vec* words, const uint8_t* const* data, size_t offset) {
        vec r[16], t[16], u[16];
        for (int l = 0; l < 16; ++l) r[l] = _mm512_loadu_si512(data[l] + offset);
        // t: within each 128-bit quarter, pairs of rows interleaved word by word.
        for (int l = 0; l < 16; l += 2) {
            t[l] = _mm512_maskz_unpacklo_epi32(all_lanes, r[l], r[l + 1]);
            t[l + 1] = _mm512_maskz_unpackhi_epi32(all_lanes, r[l], r[l + 1]);
        }
        // u[4q + m], quarter k: word 4k + m of rows 4q to 4q + 3.
        for (int q = 0; q < 16; q += 4) {
            u[q] = _mm512_maskz_unpacklo_epi64(all_quads, t[q], t[q + 2]);
            u[q + 1] = _mm512_maskz_unpackhi_epi64(all_quads, t[q], t[q + 2]);
            u[q + 2] = _mm512_maskz_unpacklo_epi64(all_quads, t[q + 1], t[q + 3]);
            u[q + 3] = _mm512_maskz_unpackhi_epi64(all_quads, t[q + 1], t[q + 3]);
        }
        // Word 4k + m gathers quarter k of u[m], u[4 + m], u[8 + m], u[12 + m].
        for (int m = 0; m < 4; ++m) {
            vec x0 = _mm512_maskz_shuffle_i32x4(all_lanes, u[m], u[4 + m], 0x44);
            vec x1 = _mm512_maskz_shuffle_i32x4(all_lanes, u[m], u[4 + m], 0xee);
            vec y0 = _mm512_maskz_shuffle_i32x4(all_lanes, u[8 + m], u[12 + m], 0x44);
            vec y1 = _mm512_maskz_shuffle_i32x4(all_lanes, u[8 + m], u[12 + m], 0xee);
            words[m] = _mm512_maskz_shuffle_i32x4(all_lanes, x0, y0, 0x88);
            words[4 + m] = _mm512_maskz_shuffle_i32x4(all_lanes, x0, y0, 0xdd);
            words[8 + m] = _mm512_maskz_shuffle_i32x4(all_lanes, x1, y1, 0x88);
            words[12 + m] = _mm512_maskz_shuffle_i32x4(all_lanes, x1, y1, 0xdd);
        }
    }
};

} // namespace

MD5_MULTI_TARGET void md5_multi_avx512(uint32_t* state, const uint8_t* const* data, size_t count) {
    multi_blocks<avx512_ops, 1>(state, data, count);
}

MD5_MULTI_TARGET void md5_multi_avx512x2(uint32_t* state, const uint8_t* const* data,
                                         size_t count) {
    multi_blocks<avx512_ops, 2>(state, data, count);
}

MD5_MULTI_TARGET void md5_multi_avx512x3(uint32_t* state, const uint8_t* const* data,
                                         size_t count) {
    multi_blocks<avx512_ops, 3>(state, data, count);
}

#endif
