// The library's memory: handles, value arrays and value texts come first from a static area of
// 4 KiB, in order and never reused, and then from the heap. A pathwise run with a few requests
// then never touches the heap, whose first page costs more than the whole answer in a virtual
// machine. Under AddressSanitizer, which watches heap blocks only, every block is a heap block.
#include <cstdlib>
#include <cstring>

#include "params/lcf_internal.h"

int lcf_allocation_failed = 0;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool use_small_area = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool use_small_area = false;
#else
constexpr bool use_small_area = true;
#endif
#else
constexpr bool use_small_area = true;
#endif

// The static area and how much of it is handed out. Blocks start at multiples of 16 bytes, as
// malloc's do; the area is zero at start and no block is given out twice, so every block is
// zero-filled already.
constexpr size_t SMALL_AREA_SIZE = 4096;
VT_LARGE_BUFFER alignas(16) unsigned char small_area[SMALL_AREA_SIZE];
size_t small_area_used = 0;

bool in_small_area(const void* block) {
    auto address = reinterpret_cast<uintptr_t>(block);
    auto start = reinterpret_cast<uintptr_t>(small_area);
    return address >= start && address - start < SMALL_AREA_SIZE;
}

} // namespace

void* lcf_allocate(size_t count, size_t size) {
    if (use_small_area && count > 0 && size > 0 && count <= SMALL_AREA_SIZE / size) {
        size_t rounded = (count * size + 15) & ~size_t{15};
        if (rounded <= SMALL_AREA_SIZE - small_area_used) {
            void* block = small_area + small_area_used;
            small_area_used += rounded;
            return block;
        }
    }
    return calloc(count, size);
}

char* lcf_copy_text(const char* text) {
    size_t size = strlen(text) + 1;
    auto* copy = static_cast<char*>(lcf_allocate(size, 1));
    if (copy != nullptr) memcpy(copy, text, size);
    return copy;
}

void lcf_release(void* block) {
    if (!in_small_area(block)) free(block);
}

int lcf_memory_exhausted() {
    return lcf_allocation_failed;
}
