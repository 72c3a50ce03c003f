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
// filter.cpp explains. Samples of a channel must come in stream order.
float filter_sample(ChannelDelayLine& line, float x, float gain);

// Filters count consecutive samples of one channel; out[i] is what filter_sample would return for in[i].
// in and out must not overlap.
void filter_block(ChannelDelayLine& line, const float* in, float* out, std::size_t count, float gain);

}  // namespace varno
