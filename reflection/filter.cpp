// The per-sample reflection filter.
//
// Arithmetic contract: each tap step forms acc + ring[j] * c[l] with a 64-bit significand, rounded to
// nearest (ties to even), and rounds that to a 32-bit float before the next tap; the output step forms
// x + gain * acc the same way. On x86-64 with GCC, long double is the x87 80-bit format with exactly
// that significand, so the steps are written in long double with a float store between them.
#include "reflection.h"

#include <cassert>
#include <limits>

namespace varno {

static_assert(std::numeric_limits<long double>::digits == 64,
              "the exact filter needs a long double with a 64-bit significand (x87 extended precision); "
              "this target's long double is a different width");

void reset_delay_line(ChannelDelayLine& line) {
    for (float& slot : line.ring) slot = 0.0f;
    line.write_index = RING_START;
}

float filter_sample(ChannelDelayLine& line, float x, float gain) {
    // The index may stand at RING_LENGTH between calls; wrap before the store.
    if (line.write_index >= RING_LENGTH) line.write_index -= RING_LENGTH;
    const std::int32_t now = line.write_index;
    line.ring[now] = x;

    // A float times a float has at most 48 significant bits, so the long double product is exact; the
    // sum is rounded once to 64 bits and then once more to float by the assignment. The order of the
    // taps matters, because acc is rounded to float after every one of them.
    float acc = 0.0f;
    for (std::size_t tap = 0; tap < TAP_COUNT; ++tap) {
        std::int32_t j = now - REFLECTION_DELAYS[tap];
        if (j < 0) j += RING_LENGTH;
        assert(j >= 0 && j < RING_LENGTH);
        const long double product =
            static_cast<long double>(line.ring[j]) * static_cast<long double>(REFLECTION_COEFFICIENTS[tap]);
        acc = static_cast<float>(static_cast<long double>(acc) + product);
    }
    const float y = static_cast<float>(static_cast<long double>(x) +
                                       static_cast<long double>(gain) * static_cast<long double>(acc));
    line.write_index = now + 1;
    return limit_sample(y);
}

void filter_block(ChannelDelayLine& line, const float* in, float* out, std::size_t count, float gain) {
    for (std::size_t i = 0; i < count; ++i) out[i] = filter_sample(line, in[i], gain);
}

}  // namespace varno
