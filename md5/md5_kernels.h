// The compression kernels behind md5_update and md5_digest_batch.
//
// Single-stream kernels compress whole 64-byte blocks of one message into its chaining values,
// reading the blocks straight from the caller's memory (any alignment, words read least
// significant byte first whatever the host's byte order). MD5 is one long dependency chain, so a
// single-stream kernel's speed is set by the latency of each of its 64 steps. The scalar kernel,
// 4.5 dependent operations per step on average, is the one md5_process_blocks runs on every
// processor. A kernel on one lane of a vector register, whose three-input logic makes a step 4
// dependent operations, lost to it on every processor measured (AMD family 19h 528 against 741
// MB/s, an Intel Xeon 770 against 794, AMD family 1Ah half the speed), and was dropped: both
// programs digest their own executable at every start, so code that never wins costs every call.
// The portable kernel is the reference, run only where forced.
//
// Multi-buffer kernels advance several independent states at once, one per 32-bit lane of a
// vector register; the "x2" and "x3" kernels interleave two or three groups of lanes, so that
// independent dependency chains hide each other's latency where vector operations take two
// cycles (on AMD family 1Ah the 32-lane AVX-512 kernel does 1.55 times the work of the 16-lane
// one per cycle) or the rotation does (AMD family 19h, in the cache: 16 lanes about 9.2 GB/s, 32
// lanes 12.6, 48 lanes 14.7).
// Which ones md5_digest_batch may use is decided once, on first use, from the processor's vendor,
// family and features (each kernel's preferred()); among those, it takes for each batch the one
// with the fewest lanes that still has a lane for every message, since idle lanes cost as much as
// busy ones, and the one with the most lanes for a larger batch.
#pragma once

#include <cstddef>
#include <cstdint>

// Compresses count consecutive 64-byte blocks into state with the scalar kernel, or the forced one.
void md5_process_blocks(uint32_t state[4], const uint8_t* blocks, size_t count);

// A kernel's entry: compresses count consecutive 64-byte blocks into state.
using md5_kernel_fn = void (*)(uint32_t state[4], const uint8_t* blocks, size_t count);

// One single-stream kernel: its name, its entry, and whether this processor can run it.
struct md5_kernel {
    const char* name;
    md5_kernel_fn run;
    bool (*supported)();
};

// A multi-buffer kernel's entry: compresses count blocks into each of its lanes' states. Lane l's
// chaining words A, B, C, D are state[l], state[lanes + l], state[2 * lanes + l],
// state[3 * lanes + l]; its count consecutive blocks start at data[l].
using md5_multi_fn = void (*)(uint32_t* state, const uint8_t* const* data, size_t count);

// One multi-buffer kernel: its name, entry, number of lanes, and as for md5_kernel.
struct md5_multi_kernel {
    const char* name;
    md5_multi_fn run;
    size_t lanes;
    bool (*supported)();
    bool (*preferred)();
};

// The most lanes of any multi-buffer kernel.
inline constexpr size_t md5_max_lanes = 48;

// The vector kernels need an x86 compiler that can target those instructions per function.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__has_include)
#if __has_include(<immintrin.h>) &&                                                              \
    ((defined(__clang__) && __clang_major__ >= 5) || (!defined(__clang__) && __GNUC__ >= 6))
#define MD5_HAVE_X86_KERNELS 1
#endif
#endif

// The portable compression function of the engine, one block at a time: the reference.
void md5_blocks_portable(uint32_t state[4], const uint8_t* blocks, size_t count);
// The scalar kernel with the shortened dependency chain; runs on any processor.
void md5_blocks_scalar(uint32_t state[4], const uint8_t* blocks, size_t count);
// True: a kernel that any processor can run.
bool md5_kernel_always();
// Each lane by itself with md5_process_blocks: the multi-buffer fallback for any processor.
void md5_multi_portable(uint32_t* state, const uint8_t* const* data, size_t count);

#ifdef MD5_HAVE_X86_KERNELS
// The processor's vendor and family (base plus extended family), from its identification.
struct md5_x86_identity {
    bool intel;
    bool amd;
    unsigned family;
};
// Read on first use and kept: the family from what the C library recorded at program start, the
// vendor with one CPUID instruction (which traps to the hypervisor in a virtual machine, some
// microseconds). Nothing known where the processor has no identification.
md5_x86_identity md5_x86_identify();
// True for the processors on which interleaved groups of lanes pay: AMD families 19h and 1Ah.
inline bool md5_x86_groups_pay(md5_x86_identity id) {
    return id.amd && (id.family == 0x19 || id.family == 0x1a);
}

// The vector extensions the kernels need.
enum md5_x86_feature { MD5_X86_AVX2, MD5_X86_AVX512F };
// True when the processor has feature and the operating system saves its registers, as the C
// library found at program start: no CPUID instruction.
bool md5_x86_has(md5_x86_feature feature);

// Multi-buffer kernels: 16 lanes of AVX-512F, 32 as two groups of 16, 48 as three; 8 lanes of
// AVX2, 16 as two groups of 8.
void md5_multi_avx512(uint32_t* state, const uint8_t* const* data, size_t count);
void md5_multi_avx512x2(uint32_t* state, const uint8_t* const* data, size_t count);
void md5_multi_avx512x3(uint32_t* state, const uint8_t* const* data, size_t count);
void md5_multi_avx2(uint32_t* state, const uint8_t* const* data, size_t count);
void md5_multi_avx2x2(uint32_t* state, const uint8_t* const* data, size_t count);
// True when the processor and the operating system support AVX-512F.
bool md5_avx512f_supported();
// True when AVX-512F is supported and the processor is one on which interleaved groups of lanes
// pay: AMD family 1Ah, whose vector additions, rotations and logic take two cycles, and AMD
// family 19h, whose 512-bit rotation takes two and whose 512-bit operations issue two a cycle.
// There both the two- and the three-group kernels are preferred: each is the fastest for the
// streams that fill it. Intel's cores run these operations in one cycle, and nothing is known of
// other processors: they keep the one-group kernel. 32-bit code has 8 vector registers, too few
// for several groups' states (on family 19h 16 lanes 8.4 GB/s, 32 lanes 8.1, 48 lanes 7.4): there
// only family 1Ah, whose one group waits twice as long on each step, takes the two-group kernel.
bool md5_avx512x2_preferred();
// As md5_avx512x2_preferred, in 64-bit code only.
bool md5_avx512x3_preferred();
// True when the processor and the operating system support AVX2.
bool md5_avx2_supported();
// True when AVX2 is supported and AVX-512F is not.
bool md5_avx2_preferred();
// True when md5_avx2_preferred is and the processor is AMD family 19h or 1Ah. An AVX2 step is a
// chain of about 6 one-cycle operations among 10 that issue four a cycle, so a second group fills
// the idle units: on family 19h with AVX-512 (which takes the AVX-512 kernels) the two-group
// kernel does 1.56 times the work of the one-group kernel, and the family's processors without
// AVX-512, whose 256-bit units are of the same design, should gain alike (not measured). Intel's
// and unknown processors keep the one-group kernel.
bool md5_avx2x2_preferred();
#endif
// True when the processor has no vector kernel: the portable fallback is the only one.
bool md5_multi_portable_preferred();

// Every single-stream kernel; the scalar kernel is the one used unless another is forced.
inline constexpr md5_kernel md5_kernel_table[] = {
    {.name = "scalar", .run = md5_blocks_scalar, .supported = md5_kernel_always},
    {.name = "portable", .run = md5_blocks_portable, .supported = md5_kernel_always},
};

// Every multi-buffer kernel, most lanes first.
inline constexpr md5_multi_kernel md5_multi_kernel_table[] = {
#ifdef MD5_HAVE_X86_KERNELS
    {.name = "avx512x3",
     .run = md5_multi_avx512x3,
     .lanes = 48,
     .supported = md5_avx512f_supported,
     .preferred = md5_avx512x3_preferred},
    {.name = "avx512x2",
     .run = md5_multi_avx512x2,
     .lanes = 32,
     .supported = md5_avx512f_supported,
     .preferred = md5_avx512x2_preferred},
    {.name = "avx512",
     .run = md5_multi_avx512,
     .lanes = 16,
     .supported = md5_avx512f_supported,
     .preferred = md5_avx512f_supported},
    {.name = "avx2x2",
     .run = md5_multi_avx2x2,
     .lanes = 16,
     .supported = md5_avx2_supported,
     .preferred = md5_avx2x2_preferred},
    {.name = "avx2",
     .run = md5_multi_avx2,
     .lanes = 8,
     .supported = md5_avx2_supported,
     .preferred = md5_avx2_preferred},
#endif
    {.name = "portable",
     .run = md5_multi_portable,
     .lanes = 4,
     .supported = md5_kernel_always,
     .preferred = md5_multi_portable_preferred},
};

// Makes md5_process_blocks use the named single-stream kernel from now on; a null name goes back
// to the scalar kernel. Returns 0, or -1 (nothing changed) for an unknown or unsupported name.
// For tests and benchmarks; the programs never call it.
int md5_force_kernel(const char* name);
// The name of the single-stream kernel md5_process_blocks uses now.
const char* md5_kernel_name();

// The multi-buffer kernel md5_digest_batch uses for streams messages in flight: the forced one if
// any, else of the preferred kernels the one with the fewest lanes that are at least streams, else
// the one with the most lanes.
const md5_multi_kernel* md5_multi_kernel_for(size_t streams);
// As md5_force_kernel, for the multi-buffer kernel of md5_digest_batch: a forced kernel is used
// for every batch whatever its size.
int md5_force_multi_kernel(const char* name);
