// What the single-stream context and the lane scheduler share around the compression function:
// the initial chaining values, the padding of a stream's last bytes, the digest's byte order,
// and clearing memory that held message bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// RFC 1321's initial chaining values A, B, C, D.
inline constexpr uint32_t md5_initial_state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

// Clears n bytes so that the compiler cannot drop the stores as dead: they held message bytes.
inline void md5_wipe(void* memory, size_t n) {
    std::memset(memory, 0, n);
    asm volatile("" : : "r"(memory) : "memory");
}

// Writes into tail the stream's last rest bytes (fewer than 64), the 0x80 byte, zeros and the
// stream's length in bits (modulo 2^64, least significant byte first); returns the blocks that
// make up, 1 or 2.
size_t md5_pad(uint8_t tail[128], const uint8_t* rest, size_t rest_length, uint64_t bits);

// Writes the chaining values as the 16-byte digest, each word least significant byte first.
inline void md5_encode_digest(uint8_t digest[16], const uint32_t state[4]) {
    for (int i = 0; i < 16; ++i) digest[i] = uint8_t(state[i / 4] >> (8 * (i % 4)));
}
