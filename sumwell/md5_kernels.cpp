#include "sumwell/md5_kernels.h"

#include "sumwell/md5.h"

// Interim: the portable compression function, one block at a time.
void md5_process_blocks(uint32_t state[4], const uint8_t* blocks, size_t count) {
    for (size_t i = 0; i < count; ++i) md5_transform(state, blocks + 64 * i);
}
