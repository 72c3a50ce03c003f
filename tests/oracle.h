// A literal, portable model of the filter's arithmetic, for the tests to hold the real filter to.
//
// Each step computes a + b * c exactly in 128-bit integers (b * c of two floats has at most 48 significant
// bits), rounds that to a 64-bit significand (nearest, ties to even), and rounds the result to a 32-bit
// float (nearest, ties to even, with float's subnormals and overflow to infinity). It uses no
// floating-point arithmetic beyond exact decomposition, so it means the same on every CPU.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace oracle {

__extension__ typedef unsigned __int128 u128;

// value = (negative ? -1 : 1) * mantissa * 2^exponent
struct Exact {
    bool negative;
    u128 mantissa;
    int exponent;
};

inline int bit_length(u128 v) {
    int n = 0;
    while (v != 0) {
        v >>= 1;
        ++n;
    }
    return n;
}

inline Exact exact_float(float f) {
    if (f == 0.0f) return {std::signbit(f), 0, 0};
    int e = 0;
    const float fraction = std::frexp(std::fabs(f), &e);  // [0.5, 1)
    const auto m = static_cast<std::uint32_t>(std::ldexp(fraction, 24));
    return {std::signbit(f), m, e - 24};
}

inline Exact exact_product(float b, float c) {
    const Exact x = exact_float(b);
    const Exact y = exact_float(c);
    return {x.negative != y.negative, x.mantissa * y.mantissa, x.exponent + y.exponent};
}

// Rounds mantissa * 2^exponent to a multiple of 2^quantum, nearest, ties to even. sticky says that
// nonzero bits lie below the mantissa's lowest bit.
inline void round_to_quantum(u128& mantissa, int& exponent, int quantum) {
    if (exponent >= quantum) return;
    const int k = quantum - exponent;
    if (k >= 127) {
        mantissa = 0;
    } else {
        const u128 rest = mantissa & ((u128{1} << k) - 1);
        const u128 half = u128{1} << (k - 1);
        mantissa >>= k;
        if (rest > half || (rest == half && (mantissa & 1) != 0)) ++mantissa;
    }
    exponent = quantum;
}

// Exact a + b to the nearest 64-bit-significand value.
inline Exact round_sum_64(Exact a, Exact b) {
    if (a.mantissa == 0 && b.mantissa == 0) return {a.negative && b.negative, 0, 0};
    if (a.mantissa == 0) a = {b.negative, 0, b.exponent};
    if (b.mantissa == 0) b = {a.negative, 0, a.exponent};
    // Put both leading bits at position 124, so a carry fits and a right shift keeps 60 guard bits.
    auto normalise = [](Exact& v) {
        if (v.mantissa == 0) return;
        const int shift = 125 - bit_length(v.mantissa);
        v.mantissa <<= shift;
        v.exponent -= shift;
    };
    normalise(a);
    normalise(b);
    if (b.mantissa != 0 && (a.mantissa == 0 || b.exponent > a.exponent)) {
        const Exact t = a;
        a = b;
        b = t;
    }
    const int gap = a.exponent - b.exponent;
    u128 small = b.mantissa;
    if (b.mantissa != 0 && gap > 0) {
        if (gap >= 126) {
            small = 1;  // far below every bit that matters: only its presence counts
        } else {
            const bool lost = (small & ((u128{1} << gap) - 1)) != 0;
            small >>= gap;
            if (lost) small |= 1;
        }
    }
    Exact sum{a.negative, 0, a.exponent};
    if (a.negative == b.negative) {
        sum.mantissa = a.mantissa + small;
    } else if (a.mantissa >= small) {
        sum.mantissa = a.mantissa - small;
    } else {
        sum.mantissa = small - a.mantissa;
        sum.negative = b.negative;
    }
    if (sum.mantissa == 0) return {false, 0, 0};  // exact cancellation is +0 when rounding to nearest
    const int length = bit_length(sum.mantissa);
    if (length > 64) {
        round_to_quantum(sum.mantissa, sum.exponent, sum.exponent + length - 64);
    }
    return sum;
}

inline float to_float(Exact v) {
    if (v.mantissa == 0) return v.negative ? -0.0f : 0.0f;
    const int top = v.exponent + bit_length(v.mantissa) - 1;
    const int quantum = top - 23 > -149 ? top - 23 : -149;
    round_to_quantum(v.mantissa, v.exponent, quantum);
    // After rounding the mantissa has at most 25 bits, so the float conversion and ldexp are exact, or
    // overflow to infinity exactly when the rounded value is beyond the float range.
    const float magnitude = std::ldexp(static_cast<float>(static_cast<std::uint64_t>(v.mantissa)), v.exponent);
    return v.negative ? -magnitude : magnitude;
}

// a + b * c with the product exact, the sum rounded to a 64-bit significand, then to a float.
inline float step(float a, float b, float c) { return to_float(round_sum_64(exact_float(a), exact_product(b, c))); }

inline float limit(float y, float limit_value) {
    if (y > 1.0f) return limit_value;
    if (!(y >= -1.0f)) return -limit_value;
    return y;
}

// The filter on an unbounded history: y[n] = limit(x[n] + g * sum_l c[l] * x[n - d[l]]), x[m] = 0 for
// m < 0, with every step rounded as step() does, taps in table order.
template <typename Delays, typename Coefficients>
std::vector<float> filter_signal(const std::vector<float>& x, float gain, const Delays& delays,
                                 const Coefficients& coefficients, float limit_value) {
    std::vector<float> y(x.size());
    for (std::size_t n = 0; n < x.size(); ++n) {
        float acc = 0.0f;
        for (std::size_t tap = 0; tap < std::size(delays); ++tap) {
            const auto d = static_cast<std::size_t>(delays[tap]);
            const float past = n >= d ? x[n - d] : 0.0f;
            acc = step(acc, past, coefficients[tap]);
        }
        y[n] = limit(step(x[n], gain, acc), limit_value);
    }
    return y;
}

}  // namespace oracle
