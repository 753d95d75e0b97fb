// The lane scheduler: streams that arrive in pieces keep the lanes of the multi-buffer kernel
// busy with their whole blocks; a partial block between two pieces waits in its lane's carry, and
// each stream's last partial block and padding go through the single-stream kernel. It
// keeps everything in the caller's set, so threads may run sets of their own at once.
#include <cstring>

#include "md5/md5.h"
#include "md5/md5_core.h"
#include "md5/md5_dispatch.h"

static_assert(md5_max_lanes <= md5_lane_limit, "a set must hold the widest kernel's lanes");

namespace {

// The most blocks handed to one kernel call: 1 GiB, a count that fits any size_t.
constexpr uint64_t largest_run = uint64_t{1} << 24;

// Copies lane l's chaining values out of the set, or back into it.
void get_state(const md5_lanes* set, size_t l, uint32_t out[4]) {
    for (size_t w = 0; w < 4; ++w) out[w] = set->state[w * set->count + l];
}
void put_state(md5_lanes* set, size_t l, const uint32_t in[4]) {
    for (size_t w = 0; w < 4; ++w) set->state[w * set->count + l] = in[w];
}

// Compresses blocks whole blocks at data into lane l's state with the single-stream kernel.
void process_alone(md5_lanes* set, size_t l, const uint8_t* data, size_t blocks) {
    uint32_t state[4];
    get_state(set, l, state);
    md5_process_blocks(state, data, blocks);
    put_state(set, l, state);
}

// Compresses the lane's carried bytes, the padding and the bit count into its state, writes
// the digest and marks the lane done.
void digest_lane(md5_lanes* set, size_t l) {
    uint8_t tail[128];
    size_t blocks = md5_pad(tail, set->carry[l], set->carried[l], set->total[l] << 3);
    uint32_t state[4];
    get_state(set, l, state);
    md5_process_blocks(state, tail, blocks);
    md5_encode_digest(set->digest[l], state);
    md5_wipe(tail, sizeof tail);
    md5_wipe(set->carry[l], sizeof set->carry[l]);
    set->carried[l] = 0;
    set->status[l] = MD5_LANE_DONE;
}

// Ends a piece that has no whole block left: its bytes left join the lane's carry, and the
// lane is done after its stream's last piece, else hungry.
void end_piece(md5_lanes* set, size_t l) {
    size_t rest = size_t(set->left[l]);
    if (rest > 0) std::memcpy(set->carry[l] + set->carried[l], set->data[l], rest);
    set->carried[l] = uint8_t(set->carried[l] + rest);
    set->left[l] = 0;
    if (set->last[l]) {
        digest_lane(set, l);
    } else {
        set->status[l] = MD5_LANE_HUNGRY;
    }
}

// Takes a piece into lane l: completes the carried partial block from it first, then leaves
// the lane running on the piece's whole blocks, or ends the piece.
void take_piece(md5_lanes* set, size_t l, const uint8_t* piece, uint64_t length, bool last) {
    set->total[l] += length;
    set->last[l] = last;
    if (set->carried[l] > 0 && length > 0) {
        size_t room = 64 - set->carried[l];
        size_t n = length < room ? size_t(length) : room;
        std::memcpy(set->carry[l] + set->carried[l], piece, n);
        set->carried[l] = uint8_t(set->carried[l] + n);
        piece += n;
        length -= n;
        if (set->carried[l] == 64) {
            process_alone(set, l, set->carry[l], 1);
            set->carried[l] = 0;
        }
    }
    set->data[l] = piece;
    set->left[l] = length;
    if (length >= 64) {
        set->status[l] = MD5_LANE_RUNNING;
    } else {
        end_piece(set, l);
    }
}

// Compresses whole blocks of lane l's piece into its state, blocks at a time.
void advance_lane(md5_lanes* set, size_t l, uint64_t blocks) {
    set->data[l] += 64 * blocks;
    set->left[l] -= 64 * blocks;
    if (set->left[l] < 64) end_piece(set, l);
}

// The single-stream kernel on all of lane l's whole blocks.
void run_alone(md5_lanes* set, size_t l) {
    uint64_t blocks = set->left[l] / 64;
    const uint8_t* data = set->data[l];
    uint32_t state[4];
    get_state(set, l, state);
    for (uint64_t done = 0; done < blocks;) {
        uint64_t n = blocks - done < largest_run ? blocks - done : largest_run;
        md5_process_blocks(state, data + 64 * done, size_t(n));
        done += n;
    }
    put_state(set, l, state);
    advance_lane(set, l, blocks);
}

// Runs kernel over the given lanes of set (at most its lanes), blocks blocks each. The kernel's
// lanes beyond them repeat the first one's blocks and their results are dropped.
void run_group(md5_lanes* set, const md5_multi_kernel* kernel, const size_t* lanes, size_t n,
               uint64_t blocks) {
    size_t width = kernel->lanes;
    uint32_t state[4 * md5_max_lanes];
    const uint8_t* data[md5_max_lanes];
    for (size_t k = 0; k < width; ++k) {
        size_t l = lanes[k < n ? k : 0];
        for (size_t w = 0; w < 4; ++w) state[w * width + k] = set->state[w * set->count + l];
        data[k] = set->data[l];
    }
    kernel->run(state, data, size_t(blocks));
    for (size_t k = 0; k < n; ++k) {
        for (size_t w = 0; w < 4; ++w) set->state[w * set->count + lanes[k]] = state[w * width + k];
    }
}

} // namespace

size_t md5_lanes_capacity() {
    size_t lanes = md5_multi_kernel_for(md5_lane_limit)->lanes;
    return lanes < md5_lane_limit ? lanes : md5_lane_limit;
}

void md5_lanes_init(md5_lanes* set, size_t count) {
    set->count = count < md5_lane_limit ? count : md5_lane_limit;
    for (size_t l = 0; l < md5_lane_limit; ++l) {
        set->status[l] = MD5_LANE_FREE;
        set->carried[l] = 0;
    }
}

void md5_lanes_start(md5_lanes* set, size_t lane, const uint8_t* piece, uint64_t length,
                     bool last) {
    put_state(set, lane, md5_initial_state);
    set->total[lane] = 0;
    set->carried[lane] = 0;
    take_piece(set, lane, piece, length, last);
}

void md5_lanes_feed(md5_lanes* set, size_t lane, const uint8_t* piece, uint64_t length, bool last) {
    take_piece(set, lane, piece, length, last);
}

void md5_lanes_free(md5_lanes* set, size_t lane) {
    md5_wipe(set->carry[lane], sizeof set->carry[lane]);
    uint32_t zero[4] = {};
    put_state(set, lane, zero);
    set->carried[lane] = 0;
    set->status[lane] = MD5_LANE_FREE;
}

bool md5_lanes_run(md5_lanes* set) {
    size_t running[md5_lane_limit];
    size_t n = 0;
    uint64_t blocks = largest_run;
    for (size_t l = 0; l < set->count; ++l) {
        if (set->status[l] != MD5_LANE_RUNNING) continue;
        running[n++] = l;
        if (set->left[l] / 64 < blocks) blocks = set->left[l] / 64;
    }
    if (n == 0) return false;
    // One or two streams: the single-stream kernel is faster than lanes left idle.
    if (n <= 2) {
        for (size_t i = 0; i < n; ++i) run_alone(set, running[i]);
        return true;
    }
    const md5_multi_kernel* kernel = md5_multi_kernel_for(n);
    if (n == set->count && kernel->lanes == n) {
        // Every lane runs, in the kernel's own layout: nothing to gather.
        kernel->run(set->state, set->data, size_t(blocks));
        for (size_t l = 0; l < n; ++l) advance_lane(set, l, blocks);
        return true;
    }
    for (size_t first = 0; first < n; first += kernel->lanes) {
        size_t group = n - first < kernel->lanes ? n - first : kernel->lanes;
        run_group(set, kernel, running + first, group, blocks);
    }
    for (size_t i = 0; i < n; ++i) advance_lane(set, running[i], blocks);
    return true;
}

void md5_digest_batch(md5_message* messages, size_t count) {
    md5_lanes set;
    md5_lanes_init(&set, md5_lanes_capacity());
    size_t owner[md5_lane_limit];
    size_t next = 0;
    for (;;) {
        for (size_t l = 0; l < set.count; ++l) {
            if (set.status[l] == MD5_LANE_DONE) {
                std::memcpy(messages[owner[l]].digest, set.digest[l], 16);
                md5_lanes_free(&set, l);
            }
            // A message too short for a whole block is done at once; the lane takes the next.
            while (set.status[l] == MD5_LANE_FREE && next < count) {
                owner[l] = next;
                md5_lanes_start(&set, l, messages[next].data, messages[next].length, true);
                ++next;
                if (set.status[l] != MD5_LANE_DONE) break;
                std::memcpy(messages[owner[l]].digest, set.digest[l], 16);
                md5_lanes_free(&set, l);
            }
        }
        if (!md5_lanes_run(&set)) return;
    }
}
