// The choice of compression kernels, the scalar and portable kernels, and the portable
// multi-buffer fallback.
#include "md5/md5_kernels.h"

#include <atomic>
#include <cstring>
#include <iterator>
#include <utility>

#ifdef MD5_HAVE_X86_KERNELS
#include <cpuid.h>
// The C library's header spells its return type _Bool, which clang's C++ does not know.
#ifdef __clang__
#define _Bool bool
#endif
#include <sys/platform/x86.h>
#ifdef __clang__
#undef _Bool
#endif
#endif

#include "md5/md5.h"
#include "md5/md5_steps.h"

namespace {

// The single-stream kernel forced by md5_force_kernel, or null for the scalar kernel. An atomic
// so that threads digesting separate contexts may read it while a test forces another; it is
// constant-initialised, so no constructor runs at program start.
std::atomic<md5_kernel_fn> forced_kernel{nullptr};

// Set in a word of answers that is read once and kept, so that zero means not read yet.
constexpr unsigned answers_known = 1u << 31;

#ifdef MD5_HAVE_X86_KERNELS
// md5_x86_identify's answer once read: answers_known, the vendor bits and the family.
constexpr unsigned identity_intel = 1u << 30;
constexpr unsigned identity_amd = 1u << 29;
constexpr unsigned identity_family = 0xffff;
std::atomic<unsigned> identity{0};

// The processor's vendor and family as md5_x86_identify's bits.
unsigned read_identity() {
    // Leaf 1's EAX, the processor's signature, as the C library read it at start; zero where the
    // processor has no CPUID instruction.
    unsigned signature =
        __x86_get_cpuid_feature_leaf(CPUID_INDEX_1)->cpuid_array[cpuid_register_index_eax];
    if (signature == 0) return answers_known;
    unsigned family = (signature >> 8) & 0xf;
    if (family == 0xf) family += (signature >> 20) & 0xff;
    unsigned eax, ebx, ecx, edx;
    __cpuid(0, eax, ebx, ecx, edx);
    (void)eax;
    unsigned bits = answers_known | family;
    if (ebx == 0x756e6547 && edx == 0x49656e69 && ecx == 0x6c65746e) bits |= identity_intel;
    if (ebx == 0x68747541 && edx == 0x69746e65 && ecx == 0x444d4163) bits |= identity_amd;
    return bits;
}
#endif

// The forced multi-buffer kernel of md5_digest_batch, or null for the automatic choice.
std::atomic<const md5_multi_kernel*> forced_multi{nullptr};
// Bit i set: md5_multi_kernel_table[i] is preferred on this processor; answers_known set once
// the bits are. Reading the processor's identity can take microseconds in a virtual machine, so
// it is read once.
std::atomic<unsigned> multi_preferred{0};

// The bits of multi_preferred, reading them on first use.
unsigned preferred_multi_kernels() {
    unsigned bits = multi_preferred.load(std::memory_order_relaxed);
    if (bits == 0) {
        bits = answers_known;
        for (size_t i = 0; i < std::size(md5_multi_kernel_table); ++i) {
            const md5_multi_kernel& k = md5_multi_kernel_table[i];
            if (k.supported() && k.preferred()) bits |= 1u << i;
        }
        multi_preferred.store(bits, std::memory_order_relaxed);
    }
    return bits;
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
    a = md5_rotl(early + late, md5_shift[I]) + b;
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

void md5_multi_portable(uint32_t* state, const uint8_t* const* data, size_t count) {
    constexpr size_t lanes = 4;
    for (size_t l = 0; l < lanes; ++l) {
        uint32_t s[4] = {state[l], state[lanes + l], state[2 * lanes + l], state[3 * lanes + l]};
        md5_process_blocks(s, data[l], count);
        for (size_t w = 0; w < 4; ++w) state[w * lanes + l] = s[w];
    }
}

#ifdef MD5_HAVE_X86_KERNELS
md5_x86_identity md5_x86_identify() {
    unsigned bits = identity.load(std::memory_order_relaxed);
    if (bits == 0) {
        bits = read_identity();
        identity.store(bits, std::memory_order_relaxed);
    }
    return {.intel = (bits & identity_intel) != 0,
            .amd = (bits & identity_amd) != 0,
            .family = bits & identity_family};
}

bool md5_x86_has(md5_x86_feature feature) {
    // The C library's number for each md5_x86_feature, in the enumeration's order.
    constexpr unsigned library_feature[] = {x86_cpu_AVX2, x86_cpu_AVX512F};
    return x86_cpu_active(library_feature[feature]);
}

#endif

void md5_process_blocks(uint32_t state[4], const uint8_t* blocks, size_t count) {
    md5_kernel_fn run = forced_kernel.load(std::memory_order_relaxed);
    if (run != nullptr) {
        run(state, blocks, count);
    } else {
        md5_blocks_scalar(state, blocks, count);
    }
}

int md5_force_kernel(const char* name) {
    if (name == nullptr) {
        forced_kernel.store(nullptr, std::memory_order_relaxed);
        return 0;
    }
    for (const md5_kernel& k : md5_kernel_table) {
        if (std::strcmp(k.name, name) == 0 && k.supported()) {
            forced_kernel.store(k.run, std::memory_order_relaxed);
            return 0;
        }
    }
    return -1;
}

const char* md5_kernel_name() {
    md5_kernel_fn run = forced_kernel.load(std::memory_order_relaxed);
    for (const md5_kernel& k : md5_kernel_table) {
        if (k.run == run) return k.name;
    }
    return "scalar";
}

bool md5_multi_portable_preferred() {
#ifdef MD5_HAVE_X86_KERNELS
    return !md5_avx2_supported();
#else
    return true;
#endif
}

const md5_multi_kernel* md5_multi_kernel_for(size_t streams) {
    const md5_multi_kernel* forced = forced_multi.load(std::memory_order_relaxed);
    if (forced != nullptr) return forced;
    unsigned bits = preferred_multi_kernels();
    const md5_multi_kernel* choice = nullptr;
    for (size_t i = 0; i < std::size(md5_multi_kernel_table); ++i) {
        const md5_multi_kernel& k = md5_multi_kernel_table[i];
        if ((bits & (1u << i)) == 0) continue;
        if (choice == nullptr || k.lanes >= streams) choice = &k;
    }
    return choice;
}

int md5_force_multi_kernel(const char* name) {
    if (name == nullptr) {
        forced_multi.store(nullptr, std::memory_order_relaxed);
        return 0;
    }
    for (const md5_multi_kernel& k : md5_multi_kernel_table) {
        if (std::strcmp(k.name, name) == 0 && k.supported()) {
            forced_multi.store(&k, std::memory_order_relaxed);
            return 0;
        }
    }
    return -1;
}
