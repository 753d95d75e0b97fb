// The MD5 message digest (RFC 1321) in the incremental shape of the RFC's reference code:
// start a context, feed it bytes in any number of pieces, finish it into 16 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

// The caller-owned state of one digest in progress.
struct md5_context {
    uint32_t state[4];  // chaining values A, B, C, D
    uint32_t count[2];  // message bits fed so far, modulo 2^64, low word first
    uint8_t buffer[64]; // input bytes not yet compressed
};

// Starts a digest: zero count, RFC 1321 initial chaining values.
void md5_init(md5_context* context);
// Feeds length bytes; whole blocks are compressed straight from input.
void md5_update(md5_context* context, const uint8_t* input, uint32_t length);
// Pads, writes the 16-byte digest, then clears the whole context to zero.
void md5_final(uint8_t digest[16], md5_context* context);
// The digest of length bytes: init, one update, final, on a context of its own.
void md5_digest(const uint8_t* input, uint32_t length, uint8_t digest[16]);
// As md5_update and md5_final, always with the scalar kernel: no kernel is chosen and nothing is
// asked of the processor. For the self-check at every start, whose few tens of kilobytes do not
// repay a choice (the scalar kernel is within a few percent of the fastest single stream).
void md5_update_scalar(md5_context* context, const uint8_t* input, uint32_t length);
void md5_final_scalar(uint8_t digest[16], md5_context* context);

// One message of a batch: the caller sets data and length, md5_digest_batch fills digest.
struct md5_message {
    const uint8_t* data;
    uint64_t length;
    uint8_t digest[16];
};

// Digests count independent messages; each digest is the one md5_digest gives for its bytes.
// Where the processor has a multi-buffer kernel, several messages share its lanes: a lane whose
// message runs out of whole blocks takes the next one, and each message's last partial block
// and padding are finished on their own.
void md5_digest_batch(md5_message* messages, size_t count);

// Writes the 32 lower-case hexadecimal digits of digest (high nibble first) and a NUL into out.
void format_hex_digest(const uint8_t digest[16], char out[33]);
// The RFC 1321 compression function: one 64-byte block into state.
void md5_transform(uint32_t state[4], const uint8_t block[64]);
