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
void md5_update(md5_context* context, const uint8_t* input, size_t length);
// Pads, writes the 16-byte digest, then clears the whole context to zero.
void md5_final(uint8_t digest[16], md5_context* context);
// The digest of length bytes: init, one update, final, on a context of its own.
void md5_digest(const uint8_t* input, size_t length, uint8_t digest[16]);
// As md5_update and md5_final, always with the scalar kernel: no kernel is chosen and nothing is
// asked of the processor. For the self-check at every start, whose few tens of kilobytes do not
// repay a choice (the scalar kernel is within a few percent of the fastest single stream).
void md5_update_scalar(md5_context* context, const uint8_t* input, size_t length);
void md5_final_scalar(uint8_t digest[16], md5_context* context);

// Streams that arrive in pieces, digested side by side in the lanes of the multi-buffer kernel,
// in the manner of a job manager: the caller starts a stream in a free lane with its first
// piece, md5_lanes_run advances every running lane by the whole blocks the shortest piece has
// left, and a lane whose piece ran out waits for its next piece (MD5_LANE_HUNGRY) or, after its
// stream's last piece, holds the digest (MD5_LANE_DONE). A piece's bytes must stay in place
// until its lane is hungry or done again. The set lives where the caller puts it and touches
// nothing else, so threads may run sets of their own at once.

// The most lanes a set can hold.
inline constexpr size_t md5_lane_limit = 64;

// What a lane is doing.
enum md5_lane_status {
    MD5_LANE_FREE = 0, // no stream: md5_lanes_start may give it one
    MD5_LANE_RUNNING,  // whole blocks of its piece are still to be compressed
    MD5_LANE_HUNGRY,   // its piece is used up (a partial block kept aside): md5_lanes_feed
    MD5_LANE_DONE,     // its stream is digested: digest[lane] holds the result
};

// A set of lanes; the fields are the scheduler's, digest and status the caller's to read.
struct md5_lanes {
    size_t count; // lanes in the set
    uint8_t status[md5_lane_limit];
    uint8_t digest[md5_lane_limit][16];
    uint32_t state[4 * md5_lane_limit];  // chaining word w of lane l at state[w * count + l]
    const uint8_t* data[md5_lane_limit]; // the piece's bytes not yet compressed
    uint64_t left[md5_lane_limit];       // how many
    uint64_t total[md5_lane_limit];      // bytes of the stream given so far
    bool last[md5_lane_limit];           // the piece ends its stream
    uint8_t carry[md5_lane_limit][64];   // a partial block between two pieces
    uint8_t carried[md5_lane_limit];
};

// The lanes worth filling on this processor: those of the widest multi-buffer kernel it runs
// best (the forced one, where one is forced), at most md5_lane_limit.
size_t md5_lanes_capacity();
// Makes lanes an empty set of count lanes (at most md5_lane_limit), every one free.
void md5_lanes_init(md5_lanes* lanes, size_t count);
// Starts a stream in the free lane with its first piece of length bytes; last says that the
// stream ends with it. The lane is then running, or already hungry or done for a piece without
// a whole block.
void md5_lanes_start(md5_lanes* lanes, size_t lane, const uint8_t* piece, uint64_t length,
                     bool last);
// Gives the hungry lane its stream's next piece, as md5_lanes_start does.
void md5_lanes_feed(md5_lanes* lanes, size_t lane, const uint8_t* piece, uint64_t length,
                    bool last);
// Frees the lane: takes a done lane's digest away, or abandons a stream (its bytes are wiped).
void md5_lanes_free(md5_lanes* lanes, size_t lane);
// Compresses whole blocks of every running lane until at least one of them is hungry or done;
// with one or two running lanes, the single-stream kernel compresses their pieces. Returns
// false, having done nothing, when no lane is running.
bool md5_lanes_run(md5_lanes* lanes);

// One message of a batch: the caller sets data and length, md5_digest_batch fills digest.
struct md5_message {
    const uint8_t* data;
    uint64_t length;
    uint8_t digest[16];
};

// Digests count independent messages; each digest is the one md5_digest gives for its bytes.
// Each message is a one-piece stream through a set of md5_lanes_capacity() lanes.
void md5_digest_batch(md5_message* messages, size_t count);

// Writes the 32 lower-case hexadecimal digits of digest (high nibble first) and a NUL into out.
void format_hex_digest(const uint8_t digest[16], char out[33]);
// The RFC 1321 compression function: one 64-byte block into state.
void md5_transform(uint32_t state[4], const uint8_t block[64]);
