// The choice of compression kernel, and the scalar and portable kernels.
#include "md5/md5_kernels.h"

#include <atomic>
#include <cstring>
#include <utility>

#include "md5/md5.h"
#include "md5/md5_steps.h"

namespace {

// The kernel md5_process_blocks runs; null until the first call chooses one. An atomic so that
// threads digesting separate contexts may make the first choice at the same time; it is
// constant-initialised, so no constructor runs at program start.
std::atomic<md5_kernel_fn> active_kernel{nullptr};

// The entry of the first kernel in the table preferred on this processor (the scalar one always
// is).
md5_kernel_fn choose_kernel() {
    for (const md5_kernel& k : md5_kernel_table) {
        if (k.preferred()) return k.run;
    }
    return md5_blocks_portable;
}

// The active kernel, choosing it on first use.
md5_kernel_fn current_kernel() {
    md5_kernel_fn run = active_kernel.load(std::memory_order_relaxed);
    if (run == nullptr) {
        run = choose_kernel();
        active_kernel.store(run, std::memory_order_relaxed);
    }
    return run;
}

// Reads the 32-bit word at p, least significant byte first, from any alignment.
inline uint32_t load_le32(const uint8_t* p) {
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__) &&                                 \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint32_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
#else
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
#endif
}

// Keeps the compiler from re-associating x into a longer chain: the value is taken as computed.
inline void pin(uint32_t& x) {
#if defined(__GNUC__)
    asm("" : "+r"(x));
#else
    (void)x;
#endif
}

// x rotated left by s bits, 0 < s < 32.
inline uint32_t rotl(uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}

// Step I of the compression function on (a, b, c, d): a = b + rotl(a + f(b, c, d) + word + sine,
// s). Everything that does not need b is summed first and pinned, so that the compiler cannot
// fold b in earlier: after b arrives F and I take 5 dependent operations, G and H 4. G is split
// into its two disjoint halves, which are added separately, one of them without b.
template <int I>
inline void step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, const uint8_t* block) {
    constexpr int round = I / 16;
    uint32_t early = a + (load_le32(block + 4 * md5_word_index[I]) + md5_sine[I]);
    uint32_t late; // the part of f that needs b
    if constexpr (round == 0) {
        uint32_t cd = c ^ d;
        pin(cd);
        late = (cd & b) ^ d; // (b & c) | (~b & d)
    } else if constexpr (round == 1) {
        early += c & ~d;
        late = b & d;
    } else if constexpr (round == 2) {
        uint32_t cd = c ^ d;
        pin(cd);
        late = cd ^ b;
    } else {
        uint32_t not_d = ~d;
        pin(not_d);
        late = (not_d | b) ^ c;
    }
    pin(early);
    a = rotl(early + late, md5_shift[I]) + b;
}

// The 64 steps on v = (A, B, C, D); each step's (a, b, c, d) are v turned by one more place.
template <size_t... I>
inline void all_steps(uint32_t v[4], const uint8_t* block, std::index_sequence<I...>) {
    (step<int(I)>(v[(64 - I) & 3], v[(65 - I) & 3], v[(66 - I) & 3], v[(67 - I) & 3], block), ...);
}

} // namespace

bool md5_kernel_always() {
    return true;
}

void md5_blocks_portable(uint32_t state[4], const uint8_t* blocks, size_t count) {
    for (size_t i = 0; i < count; ++i) md5_transform(state, blocks + 64 * i);
}

void md5_blocks_scalar(uint32_t state[4], const uint8_t* blocks, size_t count) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (size_t i = 0; i < count; ++i, blocks += 64) {
        uint32_t v[4] = {a, b, c, d};
        all_steps(v, blocks, std::make_index_sequence<64>());
        a += v[0];
        b += v[1];
        c += v[2];
        d += v[3];
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

void md5_process_blocks(uint32_t state[4], const uint8_t* blocks, size_t count) {
    current_kernel()(state, blocks, count);
}

int md5_force_kernel(const char* name) {
    if (name == nullptr) {
        active_kernel.store(nullptr, std::memory_order_relaxed);
        return 0;
    }
    for (const md5_kernel& k : md5_kernel_table) {
        if (std::strcmp(k.name, name) == 0 && k.supported()) {
            active_kernel.store(k.run, std::memory_order_relaxed);
            return 0;
        }
    }
    return -1;
}

const char* md5_kernel_name() {
    md5_kernel_fn run = current_kernel();
    for (const md5_kernel& k : md5_kernel_table) {
        if (k.run == run) return k.name;
    }
    return "portable";
}
