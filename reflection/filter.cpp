// The per-sample reflection filter and the two exact steps every filter path shares.
//
// Arithmetic contract: each tap step forms acc + ring[j] * c[l] with a 64-bit significand, rounded to
// nearest (ties to even), and rounds that to a 32-bit float before the next tap; the output step forms
// x + gain * acc the same way. No 64-bit-significand format is used: IEEE double arithmetic (and, in the
// block kernels, float fused multiply-add) gives the same bits, for the reasons below, on every CPU.
//
// Tap step. Write R = round to 64 bits, F = round to float, D = round to double (53 bits), v = acc + p
// with p = r * c, r = s * 2^-15 (s a 16-bit sample, so r has at most 15 significant bits) and c a
// coefficient (24 bits). p has at most 39 bits, so it is exact in a double. Rounding is monotone and every
// float midpoint (25 bits) is a 53- and a 64-bit value, so F(W(v)) != F(v) for W = R or D only when W(v)
// lands on a float midpoint m != v. Neither can happen:
//  * Grid: every product is a multiple of 2^-65 (smallest coefficient ulp 2^-50, times 2^-15), and so is
//    every acc (a float rounding of a multiple of 2^-65 is one again), so v is a multiple of 2^-65 and needs
//    more than 64 bits (53 bits) only if |v| >= 2^-1 (2^-12). Early products (taps 0-13) are multiples of
//    2^-42 with |p| <= 1 and acc stays a multiple of 2^-42 there, so |v| < 16 fits 46 bits: exact.
//  * If acc holds the lowest bit of v and the sum needs more than W's bits, p dominates: |acc| < 2^-28 |v|.
//    For a late tap |p| < 2^-16, so |v| < 2^-15: below both thresholds above, a contradiction.
//  * Otherwise p holds the lowest bit. For W = R: needing more than 64 bits puts p's top bit at least 26
//    below v's, so |p| < ulp(acc) / 4 (1/8 if acc is a power of two and p points down, as then v falls a
//    binade); every float midpoint is at least ulp(acc) / 4 from acc, so v is at least ulp(acc) / 8 from
//    any midpoint, far more than R moves it. Hence F(R(v)) = F(v), which is one float FMA. For W = D: acc
//    is a multiple of 2^K, K = e(v) - 24 (half a float ulp at v), so D(v) = m needs p within
//    2^(K-29) of a nonzero multiple of 2^K but not on it: a run of 28 or more equal bits inside p's
//    significand. The exhaustive test finds at most 23 over all 90 x 65536 products, so F(D(v)) = F(v).
//
// Output step. t = gain * acc has at most 48 bits and stays inside the double range for any finite gain
// (|acc| < 8, acc a multiple of 2^-65), so t is exact; s = D(x + t), and TwoSum gives e = v - s exactly.
// The definition is F(R(v)), which is not always F(v). If s is not a float midpoint, R(v) is not one
// either (R(v) = m would force D(v) = m, as m is a 53-bit value within half a 64-bit ulp of v), so
// F(R(v)) = F(v) = F(s). If s = m: with e = 0, v = m; with 0 < |e| <= half a 64-bit ulp of m, R(v) = m
// (a tie keeps m, whose 64-bit significand is even) and F gives m's even neighbour, as F(s) does; with a
// larger |e|, R(v) lies on e's side of m and the result is m's neighbour on that side. s can only be a
// midpoint inside the normal float range: an inexact s needs x != 0, and then |v| >= 2^-64.
//
// Every double product here is exact, so a compiler that fused a multiply into the following add would
// produce the same values: the results do not depend on contraction.
#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "reflection.h"

namespace varno {

static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must round to double, not to a wider format");

namespace {

// True for a double inside the normal float range that lies exactly halfway between two floats: its
// 29 bits below a float's significand are 1 followed by zeros.
bool is_float_midpoint(double s) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &s, sizeof bits);
    const auto biased = static_cast<int>((bits >> 52) & 0x7FFu);
    return biased >= 1023 - 126 && biased <= 1023 + 127 && (bits & 0x1FFFFFFFu) == 0x10000000u;
}

}  // namespace

float output_step(float x, float gain, float acc) {
    const double t = static_cast<double>(gain) * static_cast<double>(acc);
    const double s = static_cast<double>(x) + t;
    const auto y = static_cast<float>(s);
    if (!is_float_midpoint(s)) return y;
    // TwoSum: e = (x + t) - s exactly, with no assumption on which operand is larger.
    const double t_part = s - static_cast<double>(x);
    const double e = (static_cast<double>(x) - (s - t_part)) + (t - t_part);
    if (e == 0.0) return y;
    int exponent = 0;
    std::frexp(s, &exponent);  // s in [2^(exponent-1), 2^exponent)
    if (std::fabs(e) <= std::ldexp(1.0, exponent - 65)) return y;
    const double half_float_ulp = std::ldexp(1.0, exponent - 25);
    return static_cast<float>(e > 0.0 ? s + half_float_ulp : s - half_float_ulp);
}

void reset_delay_line(ChannelDelayLine& line) {
    for (float& slot : line.ring) slot = 0.0f;
    line.write_index = RING_START;
}

float filter_sample(ChannelDelayLine& line, float x, float gain) {
    // The index may stand at RING_LENGTH between calls; wrap before the store.
    if (line.write_index >= RING_LENGTH) line.write_index -= RING_LENGTH;
    const std::int32_t now = line.write_index;
    line.ring[now] = x;

    // acc is rounded to float after every tap, so the order of the taps matters.
    float acc = 0.0f;
    for (std::size_t tap = 0; tap < TAP_COUNT; ++tap) {
        std::int32_t j = now - REFLECTION_DELAYS[tap];
        if (j < 0) j += RING_LENGTH;
        assert(j >= 0 && j < RING_LENGTH);
        acc = tap_step(acc, line.ring[j], REFLECTION_COEFFICIENTS[tap]);
    }
    line.write_index = now + 1;
    return limit_sample(output_step(x, gain, acc));
}

}  // namespace varno
