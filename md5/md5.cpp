// The MD5 message digest of RFC 1321: context handling, padding and the portable compression
// function. Whole blocks of an update go to md5_process_blocks, which may use a faster kernel.
#include "md5/md5.h"

#include <cstring>

#include "md5/md5_kernels.h"
#include "md5/md5_steps.h"

namespace {

// The padding: one 0x80 byte, then zero bytes.
constexpr uint8_t padding[64] = {0x80};

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

// md5_update with process as the kernel for whole blocks.
template <md5_kernel_fn process>
void update(md5_context* context, const uint8_t* input, uint32_t length) {
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
        process(context->state, context->buffer, 1);
        done = room;
    }
    // Whole blocks are compressed where they lie: no copy of the caller's bytes.
    size_t blocks = (length - done) / 64;
    if (blocks > 0) {
        process(context->state, input + done, blocks);
        done += static_cast<uint32_t>(blocks * 64);
    }
    if (length > done) memcpy(context->buffer, input + done, length - done);
}

// md5_final with process as the kernel.
template <md5_kernel_fn process>
void finish(uint8_t digest[16], md5_context* context) {
    uint8_t length_bytes[8];
    encode_words(length_bytes, context->count, 2);

    uint32_t index = (context->count[0] >> 3) & 0x3f;
    uint32_t pad_length = index < 56 ? 56 - index : 120 - index;
    update<process>(context, padding, pad_length);
    update<process>(context, length_bytes, 8);

    encode_words(digest, context->state, 4);
    wipe(context, sizeof *context);
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
    update<md5_process_blocks>(context, input, length);
}

void md5_final(uint8_t digest[16], md5_context* context) {
    finish<md5_process_blocks>(digest, context);
}

void md5_update_scalar(md5_context* context, const uint8_t* input, uint32_t length) {
    update<md5_blocks_scalar>(context, input, length);
}

void md5_final_scalar(uint8_t digest[16], md5_context* context) {
    finish<md5_blocks_scalar>(digest, context);
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

void format_hex_digest(const uint8_t digest[16], char out[33]) {
    static constexpr char digits[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = digits[digest[i] >> 4];
        out[2 * i + 1] = digits[digest[i] & 15];
    }
    out[32] = '\0';
}
