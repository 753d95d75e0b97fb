// The MD5 context: bytes fed in pieces are buffered up to a whole block, whole blocks are
// compressed by md5_process_blocks (the scalar kernel, unless a test forces another), and the
// last partial block is padded as md5_core.h pads every stream.
#include "md5/md5.h"

#include <cstring>

#include "md5/md5_core.h"
#include "md5/md5_dispatch.h"
#include "md5/md5_kernels.h"

namespace {

// md5_update with process as the kernel for whole blocks.
template <md5_kernel_fn process>
void update(md5_context* context, const uint8_t* input, size_t length) {
    size_t index = (context->count[0] >> 3) & 0x3f;

    // The bit count is 64 bits wide: carry out of the low word, and the length's top bits.
    uint32_t bits = static_cast<uint32_t>(length << 3);
    context->count[0] += bits;
    if (context->count[0] < bits) ++context->count[1];
    context->count[1] += static_cast<uint32_t>(uint64_t{length} >> 29);

    size_t done = 0;
    if (index > 0) {
        // Complete the block held in the buffer first, or just add to it.
        size_t room = 64 - index;
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
        done += blocks * 64;
    }
    if (length > done) memcpy(context->buffer, input + done, length - done);
}

// md5_final with process as the kernel.
template <md5_kernel_fn process>
void finalize(uint8_t digest[16], md5_context* context) {
    uint8_t tail[128];
    uint64_t bits = uint64_t{context->count[1]} << 32 | context->count[0];
    size_t blocks = md5_pad(tail, context->buffer, (context->count[0] >> 3) & 0x3f, bits);
    process(context->state, tail, blocks);
    md5_encode_digest(digest, context->state);
    md5_wipe(tail, sizeof tail);
    md5_wipe(context, sizeof *context);
}

} // namespace

void md5_init(md5_context* context) {
    context->count[0] = 0;
    context->count[1] = 0;
    std::memcpy(context->state, md5_initial_state, sizeof context->state);
}

void md5_update(md5_context* context, const uint8_t* input, size_t length) {
    update<md5_process_blocks>(context, input, length);
}

void md5_final(uint8_t digest[16], md5_context* context) {
    finalize<md5_process_blocks>(digest, context);
}

void md5_update_scalar(md5_context* context, const uint8_t* input, size_t length) {
    update<md5_blocks_scalar>(context, input, length);
}

void md5_final_scalar(uint8_t digest[16], md5_context* context) {
    finalize<md5_blocks_scalar>(digest, context);
}

void md5_digest(const uint8_t* input, size_t length, uint8_t digest[16]) {
    md5_context context;
    md5_init(&context);
    md5_update(&context, input, length);
    md5_final(digest, &context);
}

size_t md5_pad(uint8_t tail[128], const uint8_t* rest, size_t rest_length, uint64_t bits) {
    size_t blocks = rest_length < 56 ? 1 : 2;
    std::memcpy(tail, rest, rest_length);
    tail[rest_length] = 0x80;
    std::memset(tail + rest_length + 1, 0, 64 * blocks - 8 - rest_length - 1);
    for (int i = 0; i < 8; ++i) tail[64 * blocks - 8 + size_t(i)] = uint8_t(bits >> (8 * i));
    return blocks;
}

void format_hex_digest(const uint8_t digest[16], char out[33]) {
    static constexpr char digits[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = digits[digest[i] >> 4];
        out[2 * i + 1] = digits[digest[i] & 15];
    }
    out[32] = '\0';
}
