// The compression kernels behind md5_update: each compresses whole 64-byte blocks into the
// chaining values, reading the blocks straight from the caller's memory.
#pragma once

#include <cstddef>
#include <cstdint>

// Compresses count consecutive 64-byte blocks into state with the kernel chosen for this processor.
void md5_process_blocks(uint32_t state[4], const uint8_t* blocks, size_t count);
