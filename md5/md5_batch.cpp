// Digests of many independent messages: a scheduler that keeps the lanes of the multi-buffer
// kernel busy with the messages' whole blocks, and finishes each message's last partial block and
// padding with the single-stream kernel. It keeps everything on the caller's stack, so threads
// may digest separate batches at once.
#include <cstring>

#include "md5/md5.h"
#include "md5/md5_kernels.h"

namespace {

// The most blocks handed to one kernel call: 1 GiB, a count that fits any size_t.
constexpr uint64_t largest_run = uint64_t{1} << 24;

// RFC 1321's initial chaining values A, B, C, D.
constexpr uint32_t initial_state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

// Compresses the message's bytes after its whole blocks, the padding and the bit count into state
// (which holds the chaining values after its whole blocks), then writes its digest.
void finish(md5_message* message, uint32_t state[4]) {
    uint64_t length = message->length;
    size_t rest = size_t(length % 64);
    uint8_t tail[128] = {};
    if (rest > 0) std::memcpy(tail, message->data + (length - rest), rest);
    tail[rest] = 0x80;
    size_t tail_blocks = rest < 56 ? 1 : 2;
    uint64_t bits = length << 3;
    for (int i = 0; i < 8; ++i) tail[64 * tail_blocks - 8 + size_t(i)] = uint8_t(bits >> (8 * i));
    md5_process_blocks(state, tail, tail_blocks);
    for (int i = 0; i < 16; ++i) message->digest[i] = uint8_t(state[i / 4] >> (8 * (i % 4)));
    // The tail is a copy of message bytes: leave none of it on the stack.
    std::memset(tail, 0, sizeof tail);
    asm volatile("" : : "r"(tail) : "memory");
}

// Compresses blocks whole blocks from data into state with the single-stream kernel.
void process_whole_blocks(uint32_t state[4], const uint8_t* data, uint64_t blocks) {
    while (blocks > 0) {
        uint64_t n = blocks < largest_run ? blocks : largest_run;
        md5_process_blocks(state, data, size_t(n));
        data += 64 * n;
        blocks -= n;
    }
}

// Digests one message with the single-stream kernel alone.
void digest_one(md5_message* message) {
    uint32_t state[4] = {initial_state[0], initial_state[1], initial_state[2], initial_state[3]};
    process_whole_blocks(state, message->data, message->length / 64);
    finish(message, state);
}

// The lanes of the multi-buffer kernel and the messages they hold.
struct lane_set {
    const md5_multi_kernel* kernel;
    size_t lanes;
    uint32_t state[4 * md5_max_lanes]; // word w of lane l at state[w * lanes + l]
    const uint8_t* data[md5_max_lanes];
    md5_message* owner[md5_max_lanes]; // null for an idle lane
    uint64_t left[md5_max_lanes];      // whole blocks not yet compressed
};

// Copies lane l's chaining values out of the set.
void get_lane(const lane_set& set, size_t l, uint32_t out[4]) {
    for (size_t w = 0; w < 4; ++w) out[w] = set.state[w * set.lanes + l];
}

// Gives lane l the first message from messages[*next] on that has a whole block, digesting on
// the way the ones that have none; advances *next. Returns false (the lane left idle) when there
// is none.
bool fill_lane(lane_set& set, size_t l, md5_message* messages, size_t count, size_t* next) {
    while (*next < count) {
        md5_message* m = &messages[(*next)++];
        if (m->length < 64) {
            digest_one(m);
            continue;
        }
        for (size_t w = 0; w < 4; ++w) set.state[w * set.lanes + l] = initial_state[w];
        set.data[l] = m->data;
        set.owner[l] = m;
        set.left[l] = m->length / 64;
        return true;
    }
    set.owner[l] = nullptr;
    return false;
}

// Moves the live lanes of set into a fresh set for kernel, which has a lane for each of them.
void repack(lane_set& set, const md5_multi_kernel* kernel) {
    lane_set old = set;
    set.kernel = kernel;
    set.lanes = kernel->lanes;
    size_t to = 0;
    for (size_t l = 0; l < old.lanes; ++l) {
        if (old.owner[l] == nullptr) continue;
        for (size_t w = 0; w < 4; ++w) set.state[w * set.lanes + to] = old.state[w * old.lanes + l];
        set.data[to] = old.data[l];
        set.owner[to] = old.owner[l];
        set.left[to] = old.left[l];
        ++to;
    }
    for (; to < set.lanes; ++to) set.owner[to] = nullptr;
}

// Advances every live lane by the whole blocks the shortest one has left, and finishes each
// message that runs out of whole blocks, refilling its lane; returns the live lanes left. Idle
// lanes repeat a live lane's blocks and their results are ignored.
size_t advance(lane_set& set, size_t live, md5_message* messages, size_t count, size_t* next) {
    uint64_t run = largest_run;
    size_t some_live = 0;
    for (size_t l = 0; l < set.lanes; ++l) {
        if (set.owner[l] == nullptr) continue;
        if (set.left[l] < run) run = set.left[l];
        some_live = l;
    }
    for (size_t l = 0; l < set.lanes; ++l) {
        if (set.owner[l] == nullptr) set.data[l] = set.data[some_live];
    }
    set.kernel->run(set.state, set.data, size_t(run));
    for (size_t l = 0; l < set.lanes; ++l) {
        if (set.owner[l] == nullptr) continue;
        set.data[l] += 64 * run;
        set.left[l] -= run;
        if (set.left[l] > 0) continue;
        uint32_t state[4];
        get_lane(set, l, state);
        finish(set.owner[l], state);
        if (!fill_lane(set, l, messages, count, next)) --live;
    }
    return live;
}

} // namespace

void md5_digest_batch(md5_message* messages, size_t count) {
    lane_set set;
    set.kernel = md5_multi_kernel_for(count);
    set.lanes = set.kernel->lanes;
    std::memset(set.state, 0, sizeof set.state);
    size_t next = 0;
    size_t live = 0;
    for (size_t l = 0; l < set.lanes; ++l) live += fill_lane(set, l, messages, count, &next);

    while (live > 2) {
        // Once no message waits, the last ones move to a kernel with fewer lanes where there is
        // one, so that idle lanes cost less.
        if (next == count) {
            const md5_multi_kernel* narrower = md5_multi_kernel_for(live);
            if (narrower->lanes < set.lanes && narrower->lanes >= live) repack(set, narrower);
        }
        live = advance(set, live, messages, count, &next);
    }
    // One or two live lanes, and no message waiting: the single-stream kernel is faster.
    for (size_t l = 0; l < set.lanes; ++l) {
        if (set.owner[l] == nullptr) continue;
        uint32_t state[4];
        get_lane(set, l, state);
        process_whole_blocks(state, set.data[l], set.left[l]);
        finish(set.owner[l], state);
    }
}
