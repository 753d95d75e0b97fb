// The MD5 message digest of RFC 1321: context handling, padding and the portable compression
// function. Whole blocks of an update go to md5_process_blocks, which may use a faster kernel.
#include "sumwell/md5.h"

#include <cstring>

#include "sumwell/md5_kernels.h"

namespace {

// Per-step constants of the four rounds: floor(abs(sin(i + 1)) * 2^32) for step i.
constexpr uint32_t step_constants[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Left rotation amounts: four per round, repeated over the round's sixteen steps.
constexpr int rotations[4][4] = {
    {7, 12, 17, 22},
    {5, 9, 14, 20},
    {4, 11, 16, 23},
    {6, 10, 15, 21},
};

// The message word each step adds: round r reads word (start + step * stride) mod 16.
constexpr int word_start[4] = {0, 1, 5, 0};
constexpr int word_stride[4] = {1, 5, 3, 7};

// The padding: one 0x80 byte, then zero bytes.
constexpr uint8_t padding[64] = {0x80};

// Rotates x left by n bits (0 < n < 32).
inline uint32_t rotate_left(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

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
        uint32_t word = words[(word_start[R] + i * word_stride[R]) % 16];
        uint32_t sum = a + round_function<R>(b, c, d) + word + step_constants[16 * R + i];
        uint32_t next = b + rotate_left(sum, rotations[R][i % 4]);
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

// Writes count words to 4 * count bytes, each word least significant byte first.
void encode_words(uint8_t* bytes, const uint32_t* words, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        bytes[4 * i] = static_cast<uint8_t>(words[i]);
        bytes[4 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
        bytes[4 * i + 2] = static_cast<uint8_t>(words[i] >> 16);
        bytes[4 * i + 3] = static_cast<uint8_t>(words[i] >> 24);
    }
}

// Clears n bytes through a volatile pointer so the compiler cannot drop the stores as dead.
void wipe(void* memory, size_t n) {
    volatile uint8_t* p = static_cast<volatile uint8_t*>(memory);
    for (size_t i = 0; i < n; ++i) p[i] = 0;
}

} // namespace

void md5_init(md5_context* context) {
    context->count[0] = 0;
    context->count[1] = 0;
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
}

void md5_update(md5_context* context, const uint8_t* input, uint32_t length) {
    uint32_t index = (context->count[0] >> 3) & 0x3f;

    // The bit count is 64 bits wide: carry out of the low word, and the length's top 3 bits.
    uint32_t bits = length << 3;
    context->count[0] += bits;
    if (context->count[0] < bits) ++context->count[1];
    context->count[1] += length >> 29;

    uint32_t done = 0;
    if (index > 0) {
        // Complete the block held in the buffer first, or just add to it.
        uint32_t room = 64 - index;
        if (length < room) {
            if (length > 0) memcpy(&context->buffer[index], input, length);
            return;
        }
        memcpy(&context->buffer[index], input, room);
        md5_process_blocks(context->state, context->buffer, 1);
        done = room;
    }
    // Whole blocks are compressed where they lie: no copy of the caller's bytes.
    size_t blocks = (length - done) / 64;
    if (blocks > 0) {
        md5_process_blocks(context->state, input + done, blocks);
        done += static_cast<uint32_t>(blocks * 64);
    }
    if (length > done) memcpy(context->buffer, input + done, length - done);
}

void md5_final(uint8_t digest[16], md5_context* context) {
    uint8_t length_bytes[8];
    encode_words(length_bytes, context->count, 2);

    uint32_t index = (context->count[0] >> 3) & 0x3f;
    uint32_t pad_length = index < 56 ? 56 - index : 120 - index;
    md5_update(context, padding, pad_length);
    md5_update(context, length_bytes, 8);

    encode_words(digest, context->state, 4);
    wipe(context, sizeof *context);
}

void md5_digest(const uint8_t* input, uint32_t length, uint8_t digest[16]) {
    md5_context context;
    md5_init(&context);
    md5_update(&context, input, length);
    md5_final(digest, &context);
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
    wipe(words, sizeof words);
}
