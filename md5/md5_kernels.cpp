// The portable compression function (md5_transform), the scalar kernel that runs on every
// processor, and the multi-buffer fallback built on it.
#include "md5/md5_kernels.h"

#include <cstring>
#include <utility>

#include "md5/md5.h"
#include "md5/md5_core.h"
#include "md5/md5_steps.h"

namespace {

// The round function of round R applied to b, c, d.
template <int R>
inline uint32_t round_function(uint32_t b, uint32_t c, uint32_t d) {
    if constexpr (R == 0) return (b & c) | (~b & d);
    if constexpr (R == 1) return (b & d) | (c & ~d);
    if constexpr (R == 2) return b ^ c ^ d;
    return c ^ (b | ~d);
}

// Runs the sixteen steps of round R over the working variables.
template <int R>
inline void run_round(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, const uint32_t* words) {
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i) {
        int step = 16 * R + i;
        uint32_t sum =
            a + round_function<R>(b, c, d) + words[md5_word_index[step]] + md5_sine[step];
        uint32_t next = b + md5_rotl(sum, md5_shift[step]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
}

// Reads count words from 4 * count bytes, each word least significant byte first.
void decode_words(uint32_t* words, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = bytes + 4 * i;
        words[i] =
            uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    }
}

// Reads the 32-bit word at p, least significant byte first, from any alignment.
inline uint32_t load_le32(const uint8_t* p) {
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__) &&                                 \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint32_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
#else
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
#endif
}

// Keeps the compiler from re-associating x into a longer chain: the value is taken as computed.
inline void pin(uint32_t& x) {
#if defined(__GNUC__)
    asm("" : "+r"(x));
#else
    (void)x;
#endif
}

// Step I of the compression function on (a, b, c, d): a = b + rotl(a + f(b, c, d) + word + sine,
// s). Everything that does not need b is summed first and pinned, so that the compiler cannot
// fold b in earlier: after b arrives F and I take 5 dependent operations, G and H 4. G is split
// into its two disjoint halves, which are added separately, one of them without b.
template <int I>
inline void step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, const uint8_t* block) {
    constexpr int round = I / 16;
    uint32_t without_b = a + (load_le32(block + 4 * md5_word_index[I]) + md5_sine[I]);
    uint32_t with_b; // the part of f that needs b
    if constexpr (round == 0) {
        uint32_t cd = c ^ d;
        pin(cd);
        with_b = (cd & b) ^ d; // (b & c) | (~b & d)
    } else if constexpr (round == 1) {
        without_b += c & ~d;
        with_b = b & d;
    } else if constexpr (round == 2) {
        uint32_t cd = c ^ d;
        pin(cd);
        with_b = cd ^ b;
    } else {
        uint32_t not_d = ~d;
        pin(not_d);
        with_b = (not_d | b) ^ c;
    }
    pin(without_b);
    a = md5_rotl(without_b + with_b, md5_shift[I]) + b;
}

// The 64 steps on v = (A, B, C, D); each step's (a, b, c, d) are v turned by one more place.
template <size_t... I>
inline void all_steps(uint32_t v[4], const uint8_t* block, std::index_sequence<I...>) {
    (step<int(I)>(v[(64 - I) & 3], v[(65 - I) & 3], v[(66 - I) & 3], v[(67 - I) & 3], block), ...);
}

} // namespace

void md5_blocks_portable(uint32_t state[4], const uint8_t* blocks, size_t count) {
    for (size_t i = 0; i < count; ++i) md5_transform(state, blocks + 64 * i);
}

void md5_blocks_scalar(uint32_t state[4], const uint8_t* blocks, size_t count) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (size_t i = 0; i < count; ++i, blocks += 64) {
        uint32_t v[4] = {a, b, c, d};
        all_steps(v, blocks, std::make_index_sequence<64>());
        a += v[0];
        b += v[1];
        c += v[2];
        d += v[3];
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

void md5_multi_portable(uint32_t* state, const uint8_t* const* data, size_t count) {
    constexpr size_t lanes = 4;
    for (size_t l = 0; l < lanes; ++l) {
        uint32_t s[4] = {state[l], state[lanes + l], state[2 * lanes + l], state[3 * lanes + l]};
        md5_blocks_scalar(s, data[l], count);
        for (size_t w = 0; w < 4; ++w) state[w * lanes + l] = s[w];
    }
}

void md5_transform(uint32_t state[4], const uint8_t block[64]) {
    uint32_t words[16];
    decode_words(words, block, 16);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    run_round<0>(a, b, c, d, words);
    run_round<1>(a, b, c, d, words);
    run_round<2>(a, b, c, d, words);
    run_round<3>(a, b, c, d, words);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;

    // The decoded words are a copy of message data: leave none of it on the stack.
    md5_wipe(words, sizeof words);
}
