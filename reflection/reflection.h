// The theatre reflection filter: one channel's tapped delay line, the limiter, and the per-sample and
// per-block entry points that the WAV run calls.
//
//   x --+------------------------------------------(+)--> limit --> y
//       |                                            ^
//       v                                            | gain
//     ring (past input) --> sum of c[l] * x[n - d[l]]
//
// The ring holds input only, so the filter has no feedback: it is a 90-tap FIR on the channel's past.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "taps.h"

namespace varno {

// Out-of-range outputs become +-LIMIT_VALUE (the float nearest 0.99), not +-1.0.
inline constexpr float LIMIT_VALUE = std::bit_cast<float>(0x3F7D70A4u);

struct ChannelDelayLine {
    float ring[RING_LENGTH];
    std::int32_t write_index;
};

// Zeroes the ring and puts the write index at RING_START.
void reset_delay_line(ChannelDelayLine& line);

// The limiter: values in [-1, 1] pass; above 1 gives LIMIT_VALUE, anything else (below -1, NaN) gives
// -LIMIT_VALUE.
constexpr float limit_sample(float y) {
    if (y > 1.0f) y = LIMIT_VALUE;
    if (!(y >= -1.0f)) y = -LIMIT_VALUE;
    return y;
}

// Filters one sample of one channel: stores x in the ring and returns
// limit(x + gain * sum over taps of c[l] * x[n - d[l]]), each step rounded as the header comment of
// filter.cpp explains. Samples of a channel must come in stream order, and each x must be a 16-bit sample
// times 2^-15 (what decode_sample gives): the exactness argument rests on it. gain must be finite.
float filter_sample(ChannelDelayLine& line, float x, float gain);

// Filters count consecutive samples of one channel; out[i] is what filter_sample would return for in[i],
// bit for bit, and the line ends as count filter_sample calls would leave it, so the two can be mixed.
// in and out must not overlap. Inputs are 16-bit samples times 2^-15, as for filter_sample.
void filter_block(ChannelDelayLine& line, const float* in, float* out, std::size_t count, float gain);

// --- The exact steps, shared by filter_sample and every block kernel ------------------------------------

// One tap: acc + past * coefficient with a 64-bit significand, then rounded to float. For a past value
// that is a 16-bit sample times 2^-15 the product is exact in a double and the double sum rounded to float
// gives that (see filter.cpp), so no wider format is needed.
inline float tap_step(float acc, float past, float coefficient) {
    return static_cast<float>(static_cast<double>(acc) +
                              static_cast<double>(past) * static_cast<double>(coefficient));
}

// The output step before the limiter: x + gain * acc with a 64-bit significand, then rounded to float.
float output_step(float x, float gain, float acc);

// --- Loops built once per CPU level ---------------------------------------------------------------------

// For plain loops that the compiler vectorises: on x86-64 the function is built for AVX-512, AVX2 and
// the SSE2 baseline, and the loader picks the form the CPU runs best.
#if defined(__x86_64__)
#define VARNO_CPU_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define VARNO_CPU_CLONES
#endif

// --- Block paths ----------------------------------------------------------------------------------------

// The ways filter_block can run. All give the same bits; they differ in speed and in the CPUs that have
// them. sequential is filter_sample in a loop, portable is plain C++ on every CPU.
enum class BlockPath { sequential, portable, sse2, avx2, avx512 };

inline constexpr BlockPath ALL_BLOCK_PATHS[] = {BlockPath::sequential, BlockPath::portable, BlockPath::sse2,
                                               BlockPath::avx2, BlockPath::avx512};

const char* block_path_name(BlockPath path);
bool block_path_supported(BlockPath path);

// The path filter_block uses: the fastest this CPU supports, unless use_block_path chose another (the
// tests and tools/varno_on_path, for timing).
BlockPath active_block_path();

// Makes filter_block use path from now on; false (and no change) when this CPU lacks it.
bool use_block_path(BlockPath path);

}  // namespace varno
