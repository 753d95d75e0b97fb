// The lane scheduler against the single-stream digest: streams of random lengths that arrive in
// pieces of random sizes, fed in a random order, through every multi-buffer kernel and the
// automatic choice, with sets of every width that changes the scheduler's path.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "md5/md5.h"
#include "md5/md5_dispatch.h"

namespace {

struct LanesTest : ::testing::Test {
    void TearDown() override { md5_force_kernel(MD5_MULTI_BUFFER, nullptr); }
};

std::string hex(const uint8_t digest[16]) {
    char text[33];
    format_hex_digest(digest, text);
    return text;
}

// One stream being fed: its bytes, how many are given so far, and its lane (or none yet).
struct stream {
    std::vector<uint8_t> bytes;
    size_t given = 0;
    std::vector<uint8_t> piece; // the piece the lane reads from, a buffer of its own
    bool abandoned = false;
};

// A piece size: mostly small and odd (carries across pieces), sometimes whole blocks, sometimes
// empty (a read that returned nothing yet).
size_t piece_size(std::mt19937& generator) {
    switch (generator() % 6) {
    case 0:
        return 0;
    case 1:
        return 64 * (1 + generator() % 40);
    case 2:
        return 1 + generator() % 63;
    default:
        return 1 + generator() % 3000;
    }
}

// Gives lane its stream's next piece; starts the stream when start is set.
void give(md5_lanes* set, size_t lane, stream* s, std::mt19937& generator, bool start) {
    size_t n = std::min(piece_size(generator), s->bytes.size() - s->given);
    s->piece.assign(s->bytes.begin() + long(s->given), s->bytes.begin() + long(s->given + n));
    s->given += n;
    bool last = s->given == s->bytes.size();
    const uint8_t* data = s->piece.empty() ? nullptr : s->piece.data();
    if (start) {
        md5_lanes_start(set, lane, data, n, last);
    } else {
        md5_lanes_feed(set, lane, data, n, last);
    }
}

// Digests every stream through a set of width lanes, abandoning every abandon_every-th stream
// half-way (0: none); returns each stream's digest ("" for an abandoned one).
std::vector<std::string> digest_streams(std::vector<stream>& streams, size_t width,
                                        std::mt19937& generator, size_t abandon_every) {
    std::vector<std::string> digests(streams.size());
    md5_lanes set;
    md5_lanes_init(&set, width);
    std::vector<long> owner(width, -1);
    size_t next = 0;
    for (;;) {
        // Attend to the lanes in a random order, as the caller's reads would complete.
        size_t first = generator() % width;
        for (size_t k = 0; k < width; ++k) {
            size_t l = (first + k) % width;
            if (set.status[l] == MD5_LANE_DONE) {
                digests[size_t(owner[l])] = hex(set.digest[l]);
                md5_lanes_free(&set, l);
            }
            if (set.status[l] == MD5_LANE_HUNGRY) {
                stream& s = streams[size_t(owner[l])];
                if (abandon_every != 0 && size_t(owner[l]) % abandon_every == 0 &&
                    2 * s.given >= s.bytes.size()) {
                    s.abandoned = true;
                    md5_lanes_free(&set, l);
                } else {
                    give(&set, l, &s, generator, false);
                }
            }
            if (set.status[l] == MD5_LANE_FREE && next < streams.size()) {
                owner[l] = long(next);
                give(&set, l, &streams[next++], generator, true);
            }
        }
        bool attention = false;
        for (size_t l = 0; l < width; ++l) {
            attention |= set.status[l] == MD5_LANE_DONE || set.status[l] == MD5_LANE_HUNGRY ||
                         (set.status[l] == MD5_LANE_FREE && next < streams.size());
        }
        if (!md5_lanes_run(&set) && !attention) break;
    }
    return digests;
}

TEST_F(LanesTest, StreamsInRandomPiecesMatchTheSingleStreamDigest) {
    std::mt19937 generator(5);
    std::vector<const md5_multi_kernel*> kernels = {nullptr};
    for (const md5_multi_kernel& k : md5_multi_kernel_table) {
        if (k.supported()) kernels.push_back(&k);
    }
    for (const md5_multi_kernel* k : kernels) {
        ASSERT_EQ(md5_force_kernel(MD5_MULTI_BUFFER, k ? k->name : nullptr), 0);
        const char* name = k ? k->name : "automatic";
        size_t capacity = md5_lanes_capacity();
        ASSERT_GE(capacity, 1u);
        ASSERT_LE(capacity, md5_lane_limit);
        // One and two lanes take the single-stream path; three and more the kernel's, with
        // fewer streams than lanes, as many, more than one kernel call's worth (a forced
        // narrow kernel runs in groups), and many more so that lanes are refilled.
        for (size_t width : {size_t{1}, size_t{2}, size_t{3}, capacity, md5_lane_limit}) {
            for (size_t count : {width - 1, width, 3 * width + 2}) {
                std::vector<stream> streams(count);
                for (stream& s : streams) {
                    size_t kind = generator() % 8;
                    size_t length = kind < 2   ? generator() % 130
                                    : kind < 6 ? generator() % 5000
                                               : 20000 + generator() % 60000;
                    s.bytes.resize(length);
                    for (uint8_t& b : s.bytes) b = uint8_t(generator());
                }
                size_t abandon_every = count > 4 ? 4 : 0;
                std::vector<std::string> digests =
                    digest_streams(streams, width, generator, abandon_every);
                for (size_t i = 0; i < count; ++i) {
                    if (streams[i].abandoned) continue;
                    uint8_t expected[16];
                    md5_digest(streams[i].bytes.data(), uint32_t(streams[i].bytes.size()),
                               expected);
                    EXPECT_EQ(digests[i], hex(expected))
                        << name << ", " << width << " lanes, stream " << i << " of " << count
                        << ", " << streams[i].bytes.size() << " bytes";
                }
            }
        }
    }
}

// A lane freed while it runs leaves nothing of its stream behind: the next stream in it starts
// afresh.
TEST_F(LanesTest, AFreedLaneStartsTheNextStreamAfresh) {
    std::vector<uint8_t> first(1000, 0xab), second(70, 0x11);
    md5_lanes set;
    md5_lanes_init(&set, 4);
    md5_lanes_start(&set, 0, first.data(), 130, false); // two blocks and a 2-byte carry
    ASSERT_EQ(set.status[0], MD5_LANE_RUNNING);
    md5_lanes_free(&set, 0);
    EXPECT_EQ(set.status[0], MD5_LANE_FREE);
    EXPECT_FALSE(md5_lanes_run(&set));
    md5_lanes_start(&set, 0, second.data(), second.size(), true);
    while (md5_lanes_run(&set)) {
    }
    ASSERT_EQ(set.status[0], MD5_LANE_DONE);
    uint8_t expected[16];
    md5_digest(second.data(), uint32_t(second.size()), expected);
    EXPECT_EQ(hex(set.digest[0]), hex(expected));
}

} // namespace
