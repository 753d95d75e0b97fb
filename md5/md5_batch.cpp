// Digests of many independent messages.
#include "md5/md5.h"

namespace {

// The largest piece handed to one md5_update: a whole number of blocks that fits in 32 bits.
constexpr uint64_t largest_piece = uint64_t{1} << 31;

// Digests one message of any length with the single-stream engine.
void digest_one(md5_message* message) {
    md5_context context;
    md5_init(&context);
    const uint8_t* bytes = message->data;
    uint64_t length = message->length;
    while (length > UINT32_MAX) {
        md5_update(&context, bytes, static_cast<uint32_t>(largest_piece));
        bytes += largest_piece;
        length -= largest_piece;
    }
    md5_update(&context, bytes, static_cast<uint32_t>(length));
    md5_final(message->digest, &context);
}

} // namespace

void md5_digest_batch(md5_message* messages, size_t count) {
    for (size_t i = 0; i < count; ++i) digest_one(&messages[i]);
}
