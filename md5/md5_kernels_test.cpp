// Every compression kernel this processor runs, against RFC 1321's test suite through md5_update
// and against the portable compression function on random blocks at every start alignment; every
// multi-buffer kernel lane by lane and through md5_digest_batch; the kernel choices.
#include "md5/md5_dispatch.h"
#include "md5/rfc1321_suite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "md5/md5.h"

namespace {

// Goes back to the automatic kernel choice when a test ends, whatever it forced.
struct KernelTest : ::testing::Test {
    void TearDown() override {
        md5_force_kernel(MD5_SINGLE_STREAM, nullptr);
        md5_force_kernel(MD5_MULTI_BUFFER, nullptr);
    }
};

// The names of the kernels this processor supports, in table order.
std::vector<std::string> supported_kernels() {
    std::vector<std::string> names;
    for (const md5_kernel& k : md5_kernel_table) {
        if (k.supported()) names.push_back(k.name);
    }
    return names;
}

// The digest as 32 lower-case hexadecimal characters.
std::string hex(const uint8_t digest[16]) {
    char text[33];
    format_hex_digest(digest, text);
    return text;
}

// The digest of message fed to md5_update starting at offset bytes into a buffer of its own,
// which ends where the message ends so that the address sanitizer sees any read past it.
std::string digest_at(const std::vector<uint8_t>& message, size_t offset) {
    std::vector<uint8_t> storage(std::max<size_t>(1, message.size() + offset));
    if (!message.empty()) std::memcpy(storage.data() + offset, message.data(), message.size());
    uint8_t digest[16];
    md5_digest(storage.data() + offset, static_cast<uint32_t>(message.size()), digest);
    return hex(digest);
}

// The digest of message with every block run by the portable compression function alone.
std::string reference_digest(const std::vector<uint8_t>& message) {
    uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    size_t whole = message.size() / 64;
    for (size_t i = 0; i < whole; ++i) md5_transform(state, message.data() + 64 * i);
    // The padded tail: the rest, 0x80, zeros to 56 modulo 64, the bit count little-endian.
    std::vector<uint8_t> tail(message.begin() + long(whole * 64), message.end());
    tail.push_back(0x80);
    while (tail.size() % 64 != 56) tail.push_back(0);
    uint64_t bits = uint64_t(message.size()) * 8;
    for (int i = 0; i < 8; ++i) tail.push_back(uint8_t(bits >> (8 * i)));
    for (size_t i = 0; i < tail.size(); i += 64) md5_transform(state, tail.data() + i);
    uint8_t digest[16];
    for (int i = 0; i < 16; ++i) digest[i] = uint8_t(state[i / 4] >> (8 * (i % 4)));
    return hex(digest);
}

// n bytes from generator.
std::vector<uint8_t> random_bytes(std::mt19937& generator, size_t n) {
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out) b = uint8_t(generator());
    return out;
}

TEST_F(KernelTest, SingleStreamRunsScalarUnlessForcedAndMultiBufferFitsTheStreams) {
    std::vector<std::string> names = supported_kernels();
    EXPECT_NE(std::find(names.begin(), names.end(), "scalar"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "portable"), names.end());
    EXPECT_STREQ(md5_kernel_name(), "scalar");
    ASSERT_EQ(md5_force_kernel(MD5_SINGLE_STREAM, "portable"), 0);
    EXPECT_STREQ(md5_kernel_name(), "portable");
    ASSERT_EQ(md5_force_kernel(MD5_SINGLE_STREAM, nullptr), 0);
    EXPECT_STREQ(md5_kernel_name(), "scalar");

    // Multi-buffer: a preferred kernel with a lane for every stream where there is one.
    for (const md5_multi_kernel& k : md5_multi_kernel_table) EXPECT_LE(k.lanes, md5_max_lanes);
    for (size_t streams : {1, 3, 8, 9, 16, 17, 32, 33, 48, 49, 1000}) {
        const md5_multi_kernel* chosen = md5_multi_kernel_for(streams);
        EXPECT_TRUE(chosen->supported() && chosen->preferred()) << chosen->name;
        for (const md5_multi_kernel& k : md5_multi_kernel_table) {
            if (!k.supported() || !k.preferred()) continue;
            if (k.lanes >= streams) {
                EXPECT_GE(chosen->lanes, streams) << chosen->name << " for " << streams;
                EXPECT_LE(chosen->lanes, k.lanes) << chosen->name << " for " << streams;
            } else {
                EXPECT_GE(chosen->lanes, k.lanes) << chosen->name << " for " << streams;
            }
        }
    }
}

TEST_F(KernelTest, ForcingUnknownOrUnsupportedNameChangesNothing) {
    ASSERT_EQ(md5_force_kernel(MD5_SINGLE_STREAM, "scalar"), 0);
    ASSERT_EQ(md5_force_kernel(MD5_MULTI_BUFFER, "portable"), 0);
    for (const char* name : {"no-such-kernel", "", "SCALAR"}) {
        EXPECT_EQ(md5_force_kernel(MD5_SINGLE_STREAM, name), -1) << name;
        EXPECT_EQ(md5_force_kernel(MD5_MULTI_BUFFER, name), -1) << name;
    }
    for (const md5_kernel& k : md5_kernel_table) {
        if (!k.supported()) {
            EXPECT_EQ(md5_force_kernel(MD5_SINGLE_STREAM, k.name), -1) << k.name;
        }
    }
    for (const md5_multi_kernel& k : md5_multi_kernel_table) {
        if (!k.supported()) {
            EXPECT_EQ(md5_force_kernel(MD5_MULTI_BUFFER, k.name), -1) << k.name;
        }
    }
    EXPECT_STREQ(md5_kernel_name(), "scalar");
    EXPECT_STREQ(md5_multi_kernel_for(1000)->name, "portable");
    ASSERT_EQ(md5_force_kernel(MD5_SINGLE_STREAM, nullptr), 0);
    ASSERT_EQ(md5_force_kernel(MD5_MULTI_BUFFER, nullptr), 0);
    EXPECT_STREQ(md5_kernel_name(), "scalar");
}

TEST_F(KernelTest, Rfc1321SuiteThroughUpdateWithEveryKernel) {
    for (const std::string& name : supported_kernels()) {
        ASSERT_EQ(md5_force_kernel(MD5_SINGLE_STREAM, name.c_str()), 0) << name;
        for (const rfc_case& c : rfc_suite) {
            std::vector<uint8_t> m(c.message, c.message + std::strlen(c.message));
            for (size_t offset : {0, 1, 3}) {
                EXPECT_EQ(digest_at(m, offset), c.digest) << name << " '" << c.message << "'";
            }
        }
    }
}

TEST_F(KernelTest, RandomBlocksAtEveryAlignmentMatchPortableTransform) {
    std::mt19937 generator(20240611);
    // Runs of up to 9 blocks (so multi-block loops carry state between blocks), each start
    // alignment 0 to 63, from random and from extreme chaining values.
    for (int trial = 0; trial < 256; ++trial) {
        size_t blocks = 1 + generator() % 9;
        size_t offset = size_t(trial) % 64;
        std::vector<uint8_t> storage = random_bytes(generator, offset + 64 * blocks);
        if (trial % 16 == 15)
            std::memset(storage.data(), trial % 32 == 15 ? 0xff : 0, storage.size());
        const uint8_t* data = storage.data() + offset;

        uint32_t start[4];
        for (uint32_t& w : start) w = uint32_t(generator());
        if (trial % 8 == 7) std::memset(start, trial % 16 == 7 ? 0xff : 0, sizeof start);

        uint32_t expected[4];
        std::memcpy(expected, start, sizeof start);
        for (size_t i = 0; i < blocks; ++i) md5_transform(expected, data + 64 * i);

        for (const md5_kernel& k : md5_kernel_table) {
            if (!k.supported()) continue;
            uint32_t state[4];
            std::memcpy(state, start, sizeof start);
            k.run(state, data, blocks);
            EXPECT_EQ(std::memcmp(state, expected, sizeof state), 0)
                << k.name << " trial " << trial << " blocks " << blocks;
        }
    }
    // Zero blocks leave the state as it was.
    for (const md5_kernel& k : md5_kernel_table) {
        if (!k.supported()) continue;
        uint32_t state[4] = {1, 2, 3, 4};
        k.run(state, nullptr, 0);
        EXPECT_EQ(state[0], 1u) << k.name;
        EXPECT_EQ(state[1], 2u) << k.name;
        EXPECT_EQ(state[2], 3u) << k.name;
        EXPECT_EQ(state[3], 4u) << k.name;
    }
}

TEST_F(KernelTest, RandomMessagesInRandomPiecesAgreeAcrossKernels) {
    std::mt19937 generator(7);
    for (int trial = 0; trial < 60; ++trial) {
        // Lengths around block and padding boundaries, and longer ones of many blocks.
        size_t length = trial < 30 ? generator() % 200 : generator() % 20000;
        std::vector<uint8_t> message = random_bytes(generator, length);
        std::string expected = reference_digest(message);
        size_t offset = generator() % 64;
        for (const std::string& name : supported_kernels()) {
            ASSERT_EQ(md5_force_kernel(MD5_SINGLE_STREAM, name.c_str()), 0);
            EXPECT_EQ(digest_at(message, offset), expected) << name << " length " << length;

            // The same bytes in pieces of random sizes, each update from its own alignment.
            md5_context context;
            md5_init(&context);
            size_t at = 0;
            while (at < length) {
                size_t n = std::min<size_t>(generator() % 300, length - at);
                std::vector<uint8_t> shifted(n + 8);
                size_t shift = generator() % 8;
                if (n > 0) std::memcpy(shifted.data() + shift, message.data() + at, n);
                md5_update(&context, shifted.data() + shift, uint32_t(n));
                at += n;
            }
            uint8_t digest[16];
            md5_final(digest, &context);
            EXPECT_EQ(hex(digest), expected) << name << " in pieces, length " << length;
        }
    }
}

// Whole blocks of every lane through each multi-buffer kernel against the portable transform:
// random chaining values, each lane's blocks in a buffer of its own at its own alignment, runs of
// one to four blocks so that state carries from block to block.
TEST_F(KernelTest, MultiBufferKernelsMatchPortableTransformInEveryLane) {
    std::mt19937 generator(11);
    for (const md5_multi_kernel& k : md5_multi_kernel_table) {
        if (!k.supported()) continue;
        for (int trial = 0; trial < 12; ++trial) {
            size_t blocks = 1 + generator() % 4;
            std::vector<std::vector<uint8_t>> storage(k.lanes);
            std::vector<const uint8_t*> data(k.lanes);
            std::vector<uint32_t> state(4 * k.lanes), expected(4 * k.lanes);
            for (size_t l = 0; l < k.lanes; ++l) {
                size_t offset = generator() % 64;
                storage[l] = random_bytes(generator, offset + 64 * blocks);
                data[l] = storage[l].data() + offset;
                uint32_t lane_state[4];
                for (size_t w = 0; w < 4; ++w) {
                    lane_state[w] = uint32_t(generator());
                    state[w * k.lanes + l] = lane_state[w];
                }
                for (size_t i = 0; i < blocks; ++i) md5_transform(lane_state, data[l] + 64 * i);
                for (size_t w = 0; w < 4; ++w) expected[w * k.lanes + l] = lane_state[w];
            }
            k.run(state.data(), data.data(), blocks);
            EXPECT_EQ(state, expected) << k.name << " trial " << trial << " blocks " << blocks;
        }
    }
}

// Batches of every size that matters to the scheduler (empty, one, two, around the lane count,
// several times it) of tiny and large messages mixed, so that lanes run dry at different times
// and are refilled, through each multi-buffer kernel in turn and through the automatic choice,
// which moves the last messages to kernels with fewer lanes.
TEST_F(KernelTest, DigestBatchMatchesReferenceWithEveryMultiBufferKernel) {
    std::mt19937 generator(3);
    std::vector<const md5_multi_kernel*> kernels = {nullptr};
    for (const md5_multi_kernel& k : md5_multi_kernel_table) {
        if (k.supported()) kernels.push_back(&k);
    }
    for (const md5_multi_kernel* k : kernels) {
        ASSERT_EQ(md5_force_kernel(MD5_MULTI_BUFFER, k ? k->name : nullptr), 0);
        size_t lanes = k ? k->lanes : md5_max_lanes;
        const char* name = k ? k->name : "automatic";
        for (size_t count : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, lanes - 1, lanes,
                             lanes + 1, 3 * lanes + 5}) {
            std::vector<std::vector<uint8_t>> bodies(count);
            std::vector<md5_message> batch(count);
            for (size_t i = 0; i < count; ++i) {
                size_t kind = generator() % 8;
                size_t length = kind < 3   ? generator() % 130
                                : kind < 7 ? generator() % 1200
                                           : 5000 + generator() % 20000;
                bodies[i] = random_bytes(generator, length);
                batch[i].data = bodies[i].data();
                batch[i].length = length;
            }
            md5_digest_batch(batch.data(), count);
            for (size_t i = 0; i < count; ++i) {
                EXPECT_EQ(hex(batch[i].digest), reference_digest(bodies[i]))
                    << name << " batch of " << count << ", message " << i << " of "
                    << bodies[i].size() << " bytes";
            }
        }
    }
}

// Batches digested by several threads at once, the first of them making the kernel choice.
TEST_F(KernelTest, ConcurrentBatchesAgree) {
    md5_force_kernel(MD5_MULTI_BUFFER, nullptr);
    md5_force_kernel(MD5_SINGLE_STREAM, nullptr);
    std::mt19937 generator(17);
    constexpr int threads = 4;
    std::vector<std::vector<uint8_t>> bodies(40);
    std::vector<std::string> expected;
    for (auto& body : bodies) {
        body = random_bytes(generator, generator() % 9000);
        expected.push_back(reference_digest(body));
    }
    std::vector<std::vector<md5_message>> batches(threads);
    for (auto& batch : batches) {
        for (auto& body : bodies) batch.push_back({body.data(), body.size(), {}});
    }
    std::vector<std::thread> workers;
    for (auto& batch : batches) {
        workers.emplace_back([&batch] { md5_digest_batch(batch.data(), batch.size()); });
    }
    for (std::thread& t : workers) t.join();
    for (const auto& batch : batches) {
        for (size_t i = 0; i < bodies.size(); ++i) EXPECT_EQ(hex(batch[i].digest), expected[i]);
    }
}

} // namespace
