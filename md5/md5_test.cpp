// The MD5 engine against RFC 1321's test suite, and the incremental interface against itself.
#include "md5/md5.h"
#include "md5/rfc1321_suite.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// The digest as 32 lower-case hexadecimal characters.
std::string hex(const uint8_t digest[16]) {
    char text[33];
    format_hex_digest(digest, text);
    return text;
}

const uint8_t* bytes(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

// The digest of message fed to one context in pieces whose sizes come from next_piece, through
// md5_update and md5_final, or through their scalar variants.
template <typename Next>
std::string digest_in_pieces(const std::string& message, Next next_piece, bool scalar = false) {
    md5_context context;
    md5_init(&context);
    size_t at = 0;
    while (at < message.size()) {
        size_t n = std::min<size_t>(next_piece(), message.size() - at);
        (scalar ? md5_update_scalar : md5_update)(&context, bytes(message) + at,
                                                  static_cast<uint32_t>(n));
        at += n;
    }
    uint8_t digest[16];
    (scalar ? md5_final_scalar : md5_final)(digest, &context);
    return hex(digest);
}

std::string digest_whole(const std::string& message) {
    uint8_t digest[16];
    md5_digest(bytes(message), static_cast<uint32_t>(message.size()), digest);
    return hex(digest);
}

// A reproducible message of n bytes covering every byte value.
std::string pseudo_random_message(size_t n, unsigned seed) {
    std::mt19937 generator(seed);
    std::string message(n, '\0');
    for (char& c : message) c = static_cast<char>(generator() & 0xff);
    return message;
}

TEST(Md5, RfcSuiteGivesTheListedDigests) {
    for (const rfc_case& c : rfc_suite) {
        EXPECT_EQ(digest_whole(c.message), c.digest) << "message \"" << c.message << "\"";
        // One byte at a time runs every message through the buffered path only.
        EXPECT_EQ(digest_in_pieces(c.message, [] { return 1; }), c.digest)
            << "message \"" << c.message << "\" byte by byte";
    }
}

// Messages around the padding boundaries: 55 bytes pad within one block, 56 need a second one;
// 63, 64 and 65 end just before, on and after a block boundary. Digests from the RFC algorithm.
TEST(Md5, PaddingBoundaries) {
    struct boundary_case {
        size_t length;
        const char* digest;
    };
    constexpr boundary_case cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {57, "652b906d60af96844ebd21b674f35e93"},  {63, "b06521f39153d618550606be297466d5"},
        {64, "014842d480b571495a4a0363793f7367"},  {65, "c743a45e0d2e6a95cb859adae0248435"},
        {119, "8a7bd0732ed6a28ce75f6dabc90e1613"}, {120, "5f61c0ccad4cac44c75ff505e1f1e537"},
    };
    for (const boundary_case& c : cases) {
        EXPECT_EQ(digest_whole(std::string(c.length, 'a')), c.digest) << c.length << " bytes";
    }
}

TEST(Md5, PiecesGiveTheSameDigestAsOneUpdate) {
    const std::string message = pseudo_random_message(5000, 1);
    const std::string whole = digest_whole(message);
    for (size_t piece : {1, 2, 3, 55, 56, 63, 64, 65, 127, 128, 129, 1000, 4999}) {
        EXPECT_EQ(digest_in_pieces(message, [piece] { return piece; }), whole)
            << "pieces of " << piece;
        EXPECT_EQ(digest_in_pieces(
                      message, [piece] { return piece; }, true),
                  whole)
            << "pieces of " << piece << ", scalar";
    }
    std::mt19937 generator(7);
    for (int round = 0; round < 50; ++round) {
        std::uniform_int_distribution<size_t> size(0, 300);
        EXPECT_EQ(digest_in_pieces(message, [&] { return size(generator); }), whole)
            << "random pieces, round " << round;
    }
}

// An empty update anywhere changes nothing; it must not touch the buffer or the count.
TEST(Md5, EmptyUpdatesChangeNothing) {
    const std::string message = pseudo_random_message(200, 2);
    md5_context context;
    md5_init(&context);
    md5_update(&context, nullptr, 0);
    md5_update(&context, bytes(message), 70);
    md5_update(&context, nullptr, 0);
    md5_update(&context, bytes(message) + 70, 130);
    uint8_t digest[16];
    md5_final(digest, &context);
    EXPECT_EQ(hex(digest), digest_whole(message));
}

// Unaligned starting addresses reach the block kernel straight from the caller's memory.
TEST(Md5, UnalignedInput) {
    const std::string message = pseudo_random_message(1024 + 8, 3);
    const std::string expected = digest_whole(message.substr(0, 1024));
    for (size_t offset = 1; offset < 8; ++offset) {
        std::vector<uint8_t> storage(offset + 1024);
        memcpy(storage.data() + offset, message.data(), 1024);
        uint8_t digest[16];
        md5_digest(storage.data() + offset, 1024, digest);
        EXPECT_EQ(hex(digest), expected) << "offset " << offset;
    }
}

// The bit count reaches 2^32 bits (512 MiB) and must carry into the high word; the message is
// fed from one reused buffer so the test needs little memory. The digest comes from the RFC
// algorithm run over the same bytes by another implementation.
TEST(Md5, BitCountCarriesIntoTheHighWord) {
    std::vector<uint8_t> chunk(1 << 20);
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i * 131 + 7);
    md5_context context;
    md5_init(&context);
    for (int i = 0; i < 512; ++i) {
        md5_update(&context, chunk.data(), static_cast<uint32_t>(chunk.size()));
    }
    md5_update(&context, chunk.data(), 3);
    EXPECT_EQ(context.count[0], 24u);
    EXPECT_EQ(context.count[1], 1u);
    uint8_t digest[16];
    md5_final(digest, &context);
    EXPECT_EQ(hex(digest), "170190741067bfb63f554a0de07afcf3");
}

TEST(Md5, FinalClearsTheWholeContext) {
    const std::string message = pseudo_random_message(100, 4);
    md5_context context;
    md5_init(&context);
    md5_update(&context, bytes(message), 100);
    uint8_t digest[16];
    md5_final(digest, &context);
    md5_context zero;
    memset(&zero, 0, sizeof zero);
    EXPECT_EQ(memcmp(&context, &zero, sizeof context), 0);

    // Started again, the same context gives the same digest.
    md5_init(&context);
    md5_update(&context, bytes(message), 100);
    uint8_t again[16];
    md5_final(again, &context);
    EXPECT_EQ(hex(again), hex(digest));
}

// One block through md5_transform from the initial values, padded by hand: the digest of "abc".
TEST(Md5, TransformOfOnePaddedBlock) {
    uint8_t block[64] = {'a', 'b', 'c', 0x80};
    block[56] = 24; // bit length, little-endian
    uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    md5_transform(state, block);
    uint8_t digest[16];
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<uint8_t>(state[i] >> (8 * j));
    }
    EXPECT_EQ(hex(digest), "900150983cd24fb0d6963f7d28e17f72");
}

} // namespace
