// The only file that reads the processor's identity and features: the predicates of the kernel
// tables, the choice between the kernels, and the forcing of one for tests.
#include "md5/md5_dispatch.h"

#include <atomic>
#include <cstring>
#include <iterator>

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

namespace {

// The kernels forced by md5_force_kernel, or null for the automatic choice. Atomics so that
// threads digesting separate streams may read them while a test forces another; they are
// constant-initialised, so no constructor runs at program start.
std::atomic<const md5_kernel*> forced_single{nullptr};
std::atomic<const md5_multi_kernel*> forced_multi{nullptr};

// Set in a word of answers that is read once and kept, so that zero means not read yet.
constexpr unsigned answers_known = 1u << 31;

// Bit i set: md5_multi_kernel_table[i] is preferred on this processor; answers_known set once
// the bits are. Reading the processor's identity can take microseconds in a virtual machine, so
// it is read once.
std::atomic<unsigned> multi_preferred{0};

#ifdef MD5_HAVE_X86_KERNELS
// The processor's identity once read: answers_known, the vendor bits and the family (base plus
// extended family).
constexpr unsigned identity_intel = 1u << 30;
constexpr unsigned identity_amd = 1u << 29;
constexpr unsigned identity_family = 0xffff;
std::atomic<unsigned> identity{0};

// The processor's vendor and family as identity's bits: the family from what the C library
// recorded at program start, the vendor with one CPUID instruction (which traps to the hypervisor
// in a virtual machine, some microseconds). Nothing known where the processor has no
// identification.
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

// identity's bits, reading them on first use.
unsigned identify() {
    unsigned bits = identity.load(std::memory_order_relaxed);
    if (bits == 0) {
        bits = read_identity();
        identity.store(bits, std::memory_order_relaxed);
    }
    return bits;
}

// True on the processors on which interleaved groups of lanes pay: AMD families 19h and 1Ah.
bool groups_pay() {
    unsigned bits = identify();
    unsigned family = bits & identity_family;
    return (bits & identity_amd) != 0 && (family == 0x19 || family == 0x1a);
}
#endif

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

// Makes the row of table named name, where this processor supports it, the forced one; a null
// name forces none. Returns 0, or -1 with nothing changed.
template <class Row, size_t N>
int force(std::atomic<const Row*>& forced, const Row (&table)[N], const char* name) {
    const Row* row = nullptr;
    if (name != nullptr) {
        for (const Row& k : table) {
            if (std::strcmp(k.name, name) == 0 && k.supported()) row = &k;
        }
        if (row == nullptr) return -1;
    }
    forced.store(row, std::memory_order_relaxed);
    return 0;
}

} // namespace

bool md5_kernel_always() {
    return true;
}

#ifdef MD5_HAVE_X86_KERNELS
bool md5_avx512f_supported() {
    // What the C library found at program start: no CPUID instruction.
    return x86_cpu_active(x86_cpu_AVX512F);
}

bool md5_avx2_supported() {
    return x86_cpu_active(x86_cpu_AVX2);
}

bool md5_avx512x2_preferred() {
    if (!md5_avx512f_supported()) return false;
#ifdef __x86_64__
    return groups_pay();
#else
    unsigned bits = identify();
    return (bits & identity_amd) != 0 && (bits & identity_family) == 0x1a;
#endif
}

bool md5_avx512x3_preferred() {
#ifdef __x86_64__
    return md5_avx512x2_preferred();
#else
    return false;
#endif
}

bool md5_avx2_preferred() {
    return md5_avx2_supported() && !md5_avx512f_supported();
}

bool md5_avx2x2_preferred() {
    return md5_avx2_preferred() && groups_pay();
}
#endif

bool md5_multi_portable_preferred() {
#ifdef MD5_HAVE_X86_KERNELS
    return !md5_avx2_supported();
#else
    return true;
#endif
}

void md5_process_blocks(uint32_t state[4], const uint8_t* blocks, size_t count) {
    const md5_kernel* forced = forced_single.load(std::memory_order_relaxed);
    if (forced != nullptr) {
        forced->run(state, blocks, count);
    } else {
        md5_blocks_scalar(state, blocks, count);
    }
}

const char* md5_kernel_name() {
    const md5_kernel* forced = forced_single.load(std::memory_order_relaxed);
    return forced != nullptr ? forced->name : "scalar";
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

int md5_force_kernel(md5_kernel_kind kind, const char* name) {
    return kind == MD5_SINGLE_STREAM ? force(forced_single, md5_kernel_table, name)
                                     : force(forced_multi, md5_multi_kernel_table, name);
}
