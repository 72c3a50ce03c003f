// filter_block: the reflection filter many samples at a time, bit for bit the same as filter_sample.
//
//   ring (last MAX_DELAY inputs) --unwrap--> window [ history | chunk of new input ] --kernel--> out
//                                                                      |
//   ring <-------------------------------------------------------------+ (new input, as filter_sample stores it)
//
// The filter has no feedback, so the outputs of a chunk are independent: a kernel computes many of them
// at once (SIMD across time), each with its own accumulator going through the 90 taps in table order.
// Laying the history out linearly lets every tap read contiguous memory with no wrap. The ring stays the
// state of record, so per-sample and per-block calls can be mixed freely.
//
// Kernels: AVX-512 (twelve registers of outputs per group) and AVX2 use float fused multiply-add per tap, SSE2 (every x86-64) and the portable
// kernel use the double step; filter.cpp shows both equal the 64-bit-significand tap step. The output step
// is done in double; a lane whose double sum is a float midpoint is redone by output_step. The kernel is
// chosen once, at run time, from what the CPU reports.
#include <algorithm>
#include <cassert>
#include <cmath>
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
};

// A kernel fills out[0..count) from x[-HISTORY..count): out[n] = limit(output_step(x[n], gain, acc[n])).
using Kernel = void (*)(const float* x, float* out, std::size_t count, float gain);

float one_output(const float* x, std::size_t n, float gain) {
    float acc = 0.0f;
    for (std::size_t tap = 0; tap < TAP_COUNT; ++tap) {
        // x + n first: the sample lies in the history in front of x, so n - delay may be negative.
        const float* past = x + n - static_cast<std::size_t>(REFLECTION_DELAYS[tap]);
        acc = tap_step(acc, *past, REFLECTION_COEFFICIENTS[tap]);
    }
    return limit_sample(output_step(x[n], gain, acc));
}

// Plain C++; GROUP independent accumulators give the compiler (and the CPU) work to overlap.
void portable_kernel(const float* x, float* out, std::size_t count, float gain) {
    constexpr std::size_t GROUP = 8;
    std::size_t n = 0;
    for (; n + GROUP <= count; n += GROUP) {
        float acc[GROUP] = {};
        for (std::size_t tap = 0; tap < TAP_COUNT; ++tap) {
            const float* past = x + n - static_cast<std::size_t>(REFLECTION_DELAYS[tap]);
            const float c = REFLECTION_COEFFICIENTS[tap];
            for (std::size_t k = 0; k < GROUP; ++k) acc[k] = tap_step(acc[k], past[k], c);
        }
        for (std::size_t k = 0; k < GROUP; ++k) out[n + k] = limit_sample(output_step(x[n + k], gain, acc[k]));
    }
    for (; n < count; ++n) out[n] = one_output(x, n, gain);
}

#if VARNO_X86_KERNELS

// SSE2: four outputs per register, each tap through double as tap_step does.
void sse2_kernel(const float* x, float* out, std::size_t count, float gain) {
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
        alignas(16) float sums[4 * VECTORS];
        for (std::size_t v = 0; v < VECTORS; ++v) _mm_store_ps(sums + 4 * v, acc[v]);
        for (std::size_t k = 0; k < 4 * VECTORS; ++k) out[n + k] = limit_sample(output_step(x[n + k], gain, sums[k]));
    }
    for (; n < count; ++n) out[n] = one_output(x, n, gain);
}

// AVX2 + FMA: eight independent accumulators of eight outputs hide the latency of the fused adds.
__attribute__((target("avx2,fma"))) void avx2_kernel(const float* x, float* out, std::size_t count, float gain) {
    constexpr std::size_t VECTORS = 8;
    const __m256d g = _mm256_set1_pd(static_cast<double>(gain));
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 minus_one = _mm256_set1_ps(-1.0f);
    const __m256 limit = _mm256_set1_ps(LIMIT_VALUE);
    const __m256 minus_limit = _mm256_set1_ps(-LIMIT_VALUE);
    const __m256i low_bits = _mm256_set1_epi64x(0x1FFFFFFF);
    const __m256i midpoint_bits = _mm256_set1_epi64x(0x10000000);
    std::size_t n = 0;
    for (; n + 8 * VECTORS <= count; n += 8 * VECTORS) {
        __m256 acc[VECTORS];
        for (__m256& a : acc) a = _mm256_setzero_ps();
        for (std::size_t tap = 0; tap < TAP_COUNT; ++tap) {
            const float* past = x + n - static_cast<std::size_t>(REFLECTION_DELAYS[tap]);
            const __m256 c = _mm256_set1_ps(REFLECTION_COEFFICIENTS[tap]);
            for (std::size_t v = 0; v < VECTORS; ++v) acc[v] = _mm256_fmadd_ps(_mm256_loadu_ps(past + 8 * v), c, acc[v]);
        }
        for (std::size_t v = 0; v < VECTORS; ++v) {
            const __m256 xv = _mm256_loadu_ps(x + n + 8 * v);
            const __m256d s_low = _mm256_add_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(xv)),
                                                _mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(acc[v])), g));
            const __m256d s_high = _mm256_add_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(xv, 1)),
                                                 _mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(acc[v], 1)), g));
            __m256 y = _mm256_set_m128(_mm256_cvtpd_ps(s_high), _mm256_cvtpd_ps(s_low));
            y = _mm256_blendv_ps(y, limit, _mm256_cmp_ps(y, one, _CMP_GT_OQ));
            y = _mm256_blendv_ps(y, minus_limit, _mm256_cmp_ps(y, minus_one, _CMP_NGE_UQ));
            _mm256_storeu_ps(out + n + 8 * v, y);
            const __m256i hit_low =
                _mm256_cmpeq_epi64(_mm256_and_si256(_mm256_castpd_si256(s_low), low_bits), midpoint_bits);
            const __m256i hit_high =
                _mm256_cmpeq_epi64(_mm256_and_si256(_mm256_castpd_si256(s_high), low_bits), midpoint_bits);
            const int hits = _mm256_movemask_pd(_mm256_castsi256_pd(hit_low)) |
                             (_mm256_movemask_pd(_mm256_castsi256_pd(hit_high)) << 4);
            if (hits != 0) {
                alignas(32) float sums[8];
                _mm256_store_ps(sums, acc[v]);
                for (std::size_t k = 0; k < 8; ++k) {
                    if ((hits >> k) & 1) {
                        out[n + 8 * v + k] = limit_sample(output_step(x[n + 8 * v + k], gain, sums[k]));
                    }
                }
            }
        }
    }
    for (; n < count; ++n) out[n] = one_output(x, n, gain);
}

// AVX-512 tap: the group's outputs start on a 64-byte line, so tap TAP reads at a fixed offset within
// lines. Unaligned 64-byte loads would straddle two lines almost every time; aligned loads joined by one
// lane shift (a compile-time count per tap) read each line once.
template <std::size_t TAP, std::size_t VECTORS>
__attribute__((target("avx512f"), always_inline)) inline void avx512_tap(const float* x, __m512 (&acc)[VECTORS]) {
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

// All taps in table order (a comma fold runs left to right).
template <std::size_t VECTORS, std::size_t... TAPS>
__attribute__((target("avx512f"), always_inline)) inline void avx512_taps(const float* x, __m512 (&acc)[VECTORS],
                                                                        std::index_sequence<TAPS...>) {
    (avx512_tap<TAPS, VECTORS>(x, acc), ...);
}

// One group of 16 * VECTORS outputs from x[0..): the taps, then the output step in double with the
// midpoint lanes redone exactly, then the limiter.
template <std::size_t VECTORS>
__attribute__((target("avx512f"), always_inline)) inline void avx512_group(const float* x, float* out, float gain) {
    const __m512d g = _mm512_set1_pd(static_cast<double>(gain));
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512 minus_one = _mm512_set1_ps(-1.0f);
    const __m512 limit = _mm512_set1_ps(LIMIT_VALUE);
    const __m512 minus_limit = _mm512_set1_ps(-LIMIT_VALUE);
    const __m512i low_bits = _mm512_set1_epi64(0x1FFFFFFF);
    const __m512i midpoint_bits = _mm512_set1_epi64(0x10000000);
    __m512 acc[VECTORS];
    for (__m512& a : acc) a = _mm512_setzero_ps();
    avx512_taps(x, acc, std::make_index_sequence<TAP_COUNT>{});
    for (std::size_t v = 0; v < VECTORS; ++v) {
        const __m512 xv = _mm512_loadu_ps(x + 16 * v);
        const __m256 x_high = _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(xv), 1));
        const __m256 a_high = _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(acc[v]), 1));
        const __m512d s_low = _mm512_add_pd(_mm512_cvtps_pd(_mm512_castps512_ps256(xv)),
                                            _mm512_mul_pd(_mm512_cvtps_pd(_mm512_castps512_ps256(acc[v])), g));
        const __m512d s_high = _mm512_add_pd(_mm512_cvtps_pd(x_high), _mm512_mul_pd(_mm512_cvtps_pd(a_high), g));
        __m512 y = _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castps_pd(_mm512_castps256_ps512(_mm512_cvtpd_ps(s_low))),
                                                       _mm256_castps_pd(_mm512_cvtpd_ps(s_high)), 1));
        y = _mm512_mask_blend_ps(_mm512_cmp_ps_mask(y, one, _CMP_GT_OQ), y, limit);
        y = _mm512_mask_blend_ps(_mm512_cmp_ps_mask(y, minus_one, _CMP_NGE_UQ), y, minus_limit);
        _mm512_storeu_ps(out + 16 * v, y);
        const unsigned hits =
            static_cast<unsigned>(
                _mm512_cmpeq_epi64_mask(_mm512_and_si512(_mm512_castpd_si512(s_low), low_bits), midpoint_bits)) |
            (static_cast<unsigned>(
                 _mm512_cmpeq_epi64_mask(_mm512_and_si512(_mm512_castpd_si512(s_high), low_bits), midpoint_bits))
             << 8);
        if (hits != 0) {
            alignas(64) float sums[16];
            _mm512_store_ps(sums, acc[v]);
            for (std::size_t k = 0; k < 16; ++k) {
                if ((hits >> k) & 1u) out[16 * v + k] = limit_sample(output_step(x[16 * v + k], gain, sums[k]));
            }
        }
    }
}

// AVX-512: sixteen outputs per register. Each tap's fused adds wait on the previous tap's, so a group
// needs enough independent accumulators to cover the latency of both fused-add pipes, and each extra
// register also shares one more line load between neighbouring lane shifts. On the development machine
// (filter_bench) 4 registers gave 390M samples/s, 8 gave 490M, 12 gave 660M and 16 fell back as the
// compiler ran short of the 32 registers. The rest of a call goes one register at a time, then one sample.
constexpr std::size_t AVX512_WIDE = 12;
static_assert(CHUNK % (16 * AVX512_WIDE) == 0, "whole chunks have no AVX-512 remainder");

__attribute__((target("avx512f"))) void avx512_kernel(const float* x, float* out, std::size_t count, float gain) {
    std::size_t n = 0;
    for (; n + 16 * AVX512_WIDE <= count; n += 16 * AVX512_WIDE) avx512_group<AVX512_WIDE>(x + n, out + n, gain);
    for (; n + 16 <= count; n += 16) avx512_group<1>(x + n, out + n, gain);
    for (; n < count; ++n) out[n] = one_output(x, n, gain);
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
        current_kernel(window.x + HISTORY, out + done, part, gain);
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
