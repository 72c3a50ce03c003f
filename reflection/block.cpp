// filter_block: the reflection filter many samples at a time, bit for bit the same as filter_sample.
//
//   ring (last MAX_DELAY inputs) --unwrap--> window [ history | chunk of new input ] --kernel--> tap sums
//                                                                      |                            |
//   ring <-------------------------------------------------------------+     gain step, limiter --> out
//        (new input, as filter_sample stores it)
//
// The filter has no feedback, so the outputs of a chunk are independent: a kernel computes many of them
// at once (SIMD across time), each with its own accumulator going through the 90 taps in table order.
// Laying the history out linearly lets every tap read contiguous memory with no wrap. The ring stays the
// state of record, so per-sample and per-block calls can be mixed freely.
//
// Kernels compute the tap sums: AVX-512 (twelve registers of outputs per group) and AVX2 use float fused
// multiply-add per tap, SSE2 (every x86-64) and the portable kernel use the double step; filter.cpp shows
// both equal the 64-bit-significand tap step. One shared pass then does the output step in double, with
// any run holding a float-midpoint double redone by output_step, and the limiter. The kernel is chosen
// once, at run time, from what the CPU reports.
#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <iterator>
#include <cstring>
#include <utility>

#include "reflection.h"

#if defined(__x86_64__)
// GCC 12's AVX-512 headers start some conversions from a deliberately undefined register, which its
// flow analysis then reports as maybe-uninitialized inside the header; the report is about the header.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#define VARNO_X86_KERNELS 1
#endif

namespace varno {
namespace {

// History kept in front of each chunk, rounded up to whole 64-byte lines so chunk starts stay aligned.
constexpr std::size_t HISTORY = (static_cast<std::size_t>(MAX_DELAY) + 15) / 16 * 16;
// New samples per kernel call: a whole number of AVX-512 wide groups (192 outputs) and of AVX2 groups
// (64). A block's 24000 frames make two chunks and a half chunk of 4800, which is whole groups too, so the
// run never reaches the slower remainder code.
constexpr std::size_t CHUNK = 9600;

struct Window {
    alignas(64) float x[HISTORY + CHUNK];
    alignas(64) float sums[CHUNK];  // the kernel's tap sums for the chunk
};

// A kernel fills sums[0..count) with the tap sums of x[0..count), reading the history in front of x:
// sums[n] = the 90 tap steps over x[n - delay] in table order. finish_outputs then applies the gain step
// and the limiter to all of them.
using Kernel = void (*)(const float* x, float* sums, std::size_t count);

float one_sum(const float* x, std::size_t n) {
    float acc = 0.0f;
    for (std::size_t tap = 0; tap < TAP_COUNT; ++tap) {
        // x + n first: the sample lies in the history in front of x, so n - delay may be negative.
        const float* past = x + n - static_cast<std::size_t>(REFLECTION_DELAYS[tap]);
        acc = tap_step(acc, *past, REFLECTION_COEFFICIENTS[tap]);
    }
    return acc;
}

// Plain C++; GROUP independent accumulators give the compiler (and the CPU) work to overlap.
void portable_kernel(const float* x, float* sums, std::size_t count) {
    constexpr std::size_t GROUP = 8;
    std::size_t n = 0;
    for (; n + GROUP <= count; n += GROUP) {
        float acc[GROUP] = {};
        for (std::size_t tap = 0; tap < TAP_COUNT; ++tap) {
            const float* past = x + n - static_cast<std::size_t>(REFLECTION_DELAYS[tap]);
            const float c = REFLECTION_COEFFICIENTS[tap];
            for (std::size_t k = 0; k < GROUP; ++k) acc[k] = tap_step(acc[k], past[k], c);
        }
        for (std::size_t k = 0; k < GROUP; ++k) sums[n + k] = acc[k];
    }
    for (; n < count; ++n) sums[n] = one_sum(x, n);
}

// The gain step and the limiter for every kernel: out[n] = limit(output_step(x[n], gain, sums[n])). The
// fast pass takes the double sum rounded to float, which output_step shows is exact unless the double is
// a float midpoint (29 low bits 1 then zeros); a run of outputs where any double looks like one is redone
// by output_step itself. Plain loops, so the compiler vectorises them for each CPU level (the clones),
// picked once at load time.
VARNO_CPU_CLONES void finish_outputs(const float* x, const float* sums, float* out, std::size_t count, float gain) {
    constexpr std::size_t RUN = 64;
    const auto g = static_cast<double>(gain);
    for (std::size_t start = 0; start < count; start += RUN) {
        const std::size_t end = std::min(count, start + RUN);
        std::uint64_t midpoints = 0;
        for (std::size_t n = start; n < end; ++n) {
            const double sum = static_cast<double>(x[n]) + g * static_cast<double>(sums[n]);
            midpoints |= static_cast<std::uint64_t>((std::bit_cast<std::uint64_t>(sum) & 0x1FFFFFFFu) == 0x10000000u);
            out[n] = limit_sample(static_cast<float>(sum));
        }
        if (midpoints == 0) continue;
        for (std::size_t n = start; n < end; ++n) out[n] = limit_sample(output_step(x[n], gain, sums[n]));
    }
}

#if VARNO_X86_KERNELS

// SSE2: four outputs per register, each tap through double as tap_step does.
void sse2_kernel(const float* x, float* sums, std::size_t count) {
    constexpr std::size_t VECTORS = 4;
    std::size_t n = 0;
    for (; n + 4 * VECTORS <= count; n += 4 * VECTORS) {
        __m128 acc[VECTORS];
        for (__m128& a : acc) a = _mm_setzero_ps();
        for (std::size_t tap = 0; tap < TAP_COUNT; ++tap) {
            const float* past = x + n - static_cast<std::size_t>(REFLECTION_DELAYS[tap]);
            const __m128d c = _mm_set1_pd(static_cast<double>(REFLECTION_COEFFICIENTS[tap]));
            for (std::size_t v = 0; v < VECTORS; ++v) {
                const __m128 r = _mm_loadu_ps(past + 4 * v);
                const __m128d low = _mm_add_pd(_mm_cvtps_pd(acc[v]), _mm_mul_pd(_mm_cvtps_pd(r), c));
                const __m128d high = _mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(acc[v], acc[v])),
                                                _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(r, r)), c));
                acc[v] = _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
            }
        }
        for (std::size_t v = 0; v < VECTORS; ++v) _mm_storeu_ps(sums + n + 4 * v, acc[v]);
    }
    for (; n < count; ++n) sums[n] = one_sum(x, n);
}

// AVX2 + FMA: eight independent accumulators of eight outputs hide the latency of the fused adds.
__attribute__((target("avx2,fma"))) void avx2_kernel(const float* x, float* sums, std::size_t count) {
    constexpr std::size_t VECTORS = 8;
    std::size_t n = 0;
    for (; n + 8 * VECTORS <= count; n += 8 * VECTORS) {
        __m256 acc[VECTORS];
        for (__m256& a : acc) a = _mm256_setzero_ps();
        for (std::size_t tap = 0; tap < TAP_COUNT; ++tap) {
            const float* past = x + n - static_cast<std::size_t>(REFLECTION_DELAYS[tap]);
            const __m256 c = _mm256_set1_ps(REFLECTION_COEFFICIENTS[tap]);
            for (std::size_t v = 0; v < VECTORS; ++v) {
                acc[v] = _mm256_fmadd_ps(_mm256_loadu_ps(past + 8 * v), c, acc[v]);
            }
        }
        for (std::size_t v = 0; v < VECTORS; ++v) _mm256_storeu_ps(sums + n + 8 * v, acc[v]);
    }
    for (; n < count; ++n) sums[n] = one_sum(x, n);
}

// AVX-512 tap: the group's outputs start on a 64-byte line, so tap TAP reads at a fixed offset within
// lines. Unaligned 64-byte loads would straddle two lines almost every time; aligned loads joined by one
// lane shift (a compile-time count per tap) read each line once.
template <std::size_t TAP, std::size_t VECTORS>
__attribute__((target("avx512f"), always_inline)) inline void avx512_tap(const float* x,
                                                                       __m512 (&acc)[VECTORS]) {
    constexpr auto delay = static_cast<std::size_t>(REFLECTION_DELAYS[TAP]);
    constexpr int shift = static_cast<int>((16 - delay % 16) % 16);
    const __m512 c = _mm512_set1_ps(REFLECTION_COEFFICIENTS[TAP]);
    const float* line = x - delay - static_cast<std::size_t>(shift);
    assert(reinterpret_cast<std::uintptr_t>(line) % 64 == 0);
    if constexpr (shift == 0) {
        for (std::size_t v = 0; v < VECTORS; ++v) acc[v] = _mm512_fmadd_ps(_mm512_load_ps(line + 16 * v), c, acc[v]);
    } else {
        __m512i low = _mm512_load_si512(line);
        for (std::size_t v = 0; v < VECTORS; ++v) {
            const __m512i high = _mm512_load_si512(line + 16 * (v + 1));
            acc[v] = _mm512_fmadd_ps(_mm512_castsi512_ps(_mm512_alignr_epi32(high, low, shift)), c, acc[v]);
            low = high;
        }
    }
}

// One group of 16 * VECTORS tap sums from x[0..): all taps in table order (a comma fold runs left to
// right).
template <std::size_t VECTORS, std::size_t... TAPS>
__attribute__((target("avx512f"), always_inline)) inline void avx512_group(const float* x, float* sums,
                                                                         std::index_sequence<TAPS...>) {
    __m512 acc[VECTORS];
    for (__m512& a : acc) a = _mm512_setzero_ps();
    (avx512_tap<TAPS, VECTORS>(x, acc), ...);
    for (std::size_t v = 0; v < VECTORS; ++v) _mm512_storeu_ps(sums + 16 * v, acc[v]);
}

// AVX-512: sixteen outputs per register. Each tap's fused adds wait on the previous tap's, so a group
// needs enough independent accumulators to cover the latency of both fused-add pipes, and each extra
// register also shares one more line load between neighbouring lane shifts. On the development machine
// (filter_bench) 4 registers gave 390M samples/s, 8 gave 490M, 12 gave 660M and 16 fell back as the
// compiler ran short of the 32 registers. The rest of a call goes one register at a time, then one sample.
constexpr std::size_t AVX512_WIDE = 12;
static_assert(CHUNK % (16 * AVX512_WIDE) == 0, "whole chunks have no AVX-512 remainder");

__attribute__((target("avx512f"))) void avx512_kernel(const float* x, float* sums, std::size_t count) {
    constexpr auto taps = std::make_index_sequence<TAP_COUNT>{};
    std::size_t n = 0;
    for (; n + 16 * AVX512_WIDE <= count; n += 16 * AVX512_WIDE) avx512_group<AVX512_WIDE>(x + n, sums + n, taps);
    for (; n + 16 <= count; n += 16) avx512_group<1>(x + n, sums + n, taps);
    for (; n < count; ++n) sums[n] = one_sum(x, n);
}

#endif  // VARNO_X86_KERNELS

Kernel kernel_for(BlockPath path) {
    switch (path) {
#if VARNO_X86_KERNELS
        case BlockPath::sse2:
            return sse2_kernel;
        case BlockPath::avx2:
            return avx2_kernel;
        case BlockPath::avx512:
            return avx512_kernel;
#endif
        default:
            return portable_kernel;
    }
}

BlockPath best_block_path() {
    for (auto i = std::size(ALL_BLOCK_PATHS); i-- > 0;) {
        if (block_path_supported(ALL_BLOCK_PATHS[i])) return ALL_BLOCK_PATHS[i];
    }
    return BlockPath::portable;
}

BlockPath current_path = best_block_path();
Kernel current_kernel = kernel_for(current_path);

// Copies count floats starting at ring position first (wrapping) to dst.
void copy_from_ring(const ChannelDelayLine& line, std::int32_t first, float* dst, std::size_t count) {
    const auto start = static_cast<std::size_t>(first);
    const std::size_t before_end = RING_LENGTH - start;
    if (count <= before_end) {
        std::memcpy(dst, line.ring + start, count * sizeof(float));
    } else {
        std::memcpy(dst, line.ring + start, before_end * sizeof(float));
        std::memcpy(dst + before_end, line.ring, (count - before_end) * sizeof(float));
    }
}

// Stores count inputs from src into the ring from the write index on, as count filter_sample calls would.
void store_in_ring(ChannelDelayLine& line, const float* src, std::size_t count) {
    while (count > 0) {
        if (line.write_index >= RING_LENGTH) line.write_index -= RING_LENGTH;
        const auto at = static_cast<std::size_t>(line.write_index);
        const std::size_t run = std::min(count, RING_LENGTH - at);
        std::memcpy(line.ring + at, src, run * sizeof(float));
        line.write_index += static_cast<std::int32_t>(run);
        src += run;
        count -= run;
    }
}

}  // namespace

const char* block_path_name(BlockPath path) {
    switch (path) {
        case BlockPath::sequential:
            return "sequential";
        case BlockPath::portable:
            return "portable";
        case BlockPath::sse2:
            return "sse2";
        case BlockPath::avx2:
            return "avx2";
        case BlockPath::avx512:
            return "avx512";
    }
    return "unknown";
}

bool block_path_supported(BlockPath path) {
    switch (path) {
        case BlockPath::sequential:
        case BlockPath::portable:
            return true;
#if VARNO_X86_KERNELS
        case BlockPath::sse2:
            return true;  // part of every x86-64
        case BlockPath::avx2:
            __builtin_cpu_init();  // may run from a static initialiser, before libgcc's own
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
        case BlockPath::avx512:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx512f");
#endif
        default:
            return false;
    }
}

BlockPath active_block_path() { return current_path; }

bool use_block_path(BlockPath path) {
    if (!block_path_supported(path)) return false;
    current_path = path;
    current_kernel = kernel_for(path);
    return true;
}

void filter_block(ChannelDelayLine& line, const float* in, float* out, std::size_t count, float gain) {
    if (current_path == BlockPath::sequential) {
        for (std::size_t i = 0; i < count; ++i) out[i] = filter_sample(line, in[i], gain);
        return;
    }
    static_assert(HISTORY < RING_LENGTH, "the ring holds the whole history a chunk needs");
    Window window;
    if (line.write_index >= RING_LENGTH) line.write_index -= RING_LENGTH;
    std::int32_t first = line.write_index - static_cast<std::int32_t>(HISTORY);
    if (first < 0) first += RING_LENGTH;
    copy_from_ring(line, first, window.x, HISTORY);
    for (std::size_t done = 0; done < count;) {
        const std::size_t part = std::min(CHUNK, count - done);
        std::memcpy(window.x + HISTORY, in + done, part * sizeof(float));
        current_kernel(window.x + HISTORY, window.sums, part);
        finish_outputs(window.x + HISTORY, window.sums, out + done, part, gain);
        done += part;
        // The last HISTORY samples of this chunk's window are the next chunk's history.
        if (done < count) std::memmove(window.x, window.x + part, HISTORY * sizeof(float));
    }
    // The ring then holds the inputs as count filter_sample calls would leave it. Only its last
    // RING_LENGTH inputs survive those calls, so earlier ones are skipped over rather than stored.
    const std::size_t kept = std::min(count, static_cast<std::size_t>(RING_LENGTH));
    line.write_index += static_cast<std::int32_t>((count - kept) % RING_LENGTH);
    store_in_ring(line, in + (count - kept), kept);
}

}  // namespace varno
