// The choice of compression kernels: the processor's identity and features are read here and
// nowhere else, once, and the kernel tables say which kernels this processor supports and
// prefers.
//
// The scalar kernel is the single-stream kernel on every processor; another runs only where a
// test or a benchmark forces it. The lane scheduler asks for the multi-buffer kernel for its
// running streams: of the preferred kernels, the one with the fewest lanes that still has a lane
// for every stream (idle lanes cost as much as busy ones), else the one with the most lanes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "md5/md5_kernels.h"

// One single-stream kernel: its name, its entry, and whether this processor can run it.
struct md5_kernel {
    const char* name;
    md5_kernel_fn run;
    bool (*supported)();
};

// One multi-buffer kernel: its name, entry, number of lanes, and whether this processor can run
// it and is one on which it is among the fastest.
struct md5_multi_kernel {
    const char* name;
    md5_multi_fn run;
    size_t lanes;
    bool (*supported)();
    bool (*preferred)();
};

// True: a kernel that any processor can run.
bool md5_kernel_always();
// True when the processor has no vector kernel: the portable fallback is the only one.
bool md5_multi_portable_preferred();
#ifdef MD5_HAVE_X86_KERNELS
// True when the processor and the operating system support AVX-512F, or AVX2.
bool md5_avx512f_supported();
bool md5_avx2_supported();
// True where interleaved groups of AVX-512 lanes pay: AMD families 19h and 1Ah, whose vector
// operations (or rotation) take two cycles; in 32-bit code, with 8 vector registers, only
// family 1Ah and only for two groups.
bool md5_avx512x2_preferred();
bool md5_avx512x3_preferred();
// True when AVX2 is supported and AVX-512F is not; the two-group kernel on AMD families 19h and
// 1Ah, whose AVX2 steps leave units idle that a second group fills.
bool md5_avx2_preferred();
bool md5_avx2x2_preferred();
#endif

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

// Compresses count consecutive 64-byte blocks into state with the scalar kernel, or the forced one.
void md5_process_blocks(uint32_t state[4], const uint8_t* blocks, size_t count);
// The name of the single-stream kernel md5_process_blocks uses now.
const char* md5_kernel_name();
// The multi-buffer kernel for streams running streams: the forced one, else the choice above.
const md5_multi_kernel* md5_multi_kernel_for(size_t streams);

// Which of the two tables md5_force_kernel looks in.
enum md5_kernel_kind { MD5_SINGLE_STREAM, MD5_MULTI_BUFFER };
// Makes the named kernel of kind the one used from now on, for every call whatever its size; a
// null name goes back to the automatic choice. Returns 0, or -1 (nothing changed) for an unknown
// or unsupported name. For tests and benchmarks; the programs never call it.
int md5_force_kernel(md5_kernel_kind kind, const char* name);
