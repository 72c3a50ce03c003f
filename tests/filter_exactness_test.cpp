// Why the filter may work without a 64-bit-significand format: the finite facts the exactness argument in
// reflection/filter.cpp rests on, checked over every coefficient and every 16-bit sample; the tap and
// output steps against the literal oracle; and, on x86-64, the portable filter against the x87 reading.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "oracle.h"
#include "reflection.h"
#include "signals.h"
#include "x87_filter.h"

namespace {

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

struct Significand {
    std::uint64_t odd;  // the significand with its trailing zeros removed
    int low;            // the value is +-odd * 2^low
};

Significand exact_product(int s, float c) {
    const oracle::Exact e = oracle::exact_product(static_cast<float>(s), c);
    Significand out{static_cast<std::uint64_t>(e.mantissa), e.exponent - 15};
    while (out.odd != 0 && (out.odd & 1) == 0) {
        out.odd >>= 1;
        ++out.low;
    }
    return out;
}

int bit_length(std::uint64_t v) { return v == 0 ? 0 : 64 - std::countl_zero(v); }

// Longest run of equal bits between the top and the bottom bit of v (both excluded from the run's ends
// only in that a run cannot extend past them).
int longest_run(std::uint64_t v) {
    const int length = bit_length(v);
    int best = 0;
    int run = 0;
    for (int i = 0; i < length; ++i) {
        run = (i > 0 && ((v >> i) & 1) == ((v >> (i - 1)) & 1)) ? run + 1 : 1;
        best = std::max(best, run);
    }
    return best;
}

// Every coefficient times every 16-bit sample: the product is exact in a double, has at most 39
// significant bits, lies on the 2^-65 grid (early taps: the 2^-42 grid, magnitude at most 1; late taps:
// magnitude below 2^-16), and has no run of 28 or more equal bits, which is what makes the double sum
// rounded to float equal to the 64-bit-significand step.
TEST(ProductFacts, EveryCoefficientTimesEverySample) {
    int longest = 0;
    for (std::size_t tap = 0; tap < varno::TAP_COUNT; ++tap) {
        const float c = varno::REFLECTION_COEFFICIENTS[tap];
        for (int s = -32768; s <= 32767; ++s) {
            if (s == 0) continue;
            const float r = signals::pcm(s);
            const Significand p = exact_product(s, c);
            const double product = static_cast<double>(r) * static_cast<double>(c);
            ASSERT_EQ(std::fabs(product), std::ldexp(static_cast<double>(p.odd), p.low)) << tap << " " << s;
            ASSERT_LE(bit_length(p.odd), 39) << tap << " " << s;
            ASSERT_GE(p.low, -65) << tap << " " << s;
            if (tap < varno::EARLY_TAP_COUNT) {
                ASSERT_GE(p.low, -42) << tap << " " << s;
                ASSERT_LE(std::fabs(product), 1.0) << tap << " " << s;
            } else {
                ASSERT_LT(std::fabs(product), std::ldexp(1.0, -16)) << tap << " " << s;
            }
            longest = std::max(longest, longest_run(p.odd));
        }
    }
    EXPECT_LT(longest, 28);
    RecordProperty("longest_run_of_equal_bits", longest);
}

// The sum of all coefficient magnitudes bounds |acc| (inputs lie in [-1, 1)), so acc stays far inside
// the float range and gain * acc inside the double range for every finite gain.
TEST(ProductFacts, AccumulatorStaysSmall) {
    double total = 0.0;
    for (const float c : varno::REFLECTION_COEFFICIENTS) total += std::fabs(static_cast<double>(c));
    EXPECT_LT(total * (1.0 + 100 * 0x1p-24), 8.0);
}

// The two tap steps the kernels use, against the oracle, on accumulators of every magnitude the filter
// meets (multiples of 2^-65 below 8), near powers of two and float midpoints, and on every tap.
TEST(TapStep, FusedAndDoubleStepsMatchTheOracle) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::uniform_int_distribution<std::uint32_t> mantissa(0, (1u << 24) - 1);
    std::uniform_int_distribution<int> scale(-65 + 23, 2 - 0);
    for (int i = 0; i < 3'000'000; ++i) {
        const std::size_t tap = static_cast<std::size_t>(i) % varno::TAP_COUNT;
        const float c = varno::REFLECTION_COEFFICIENTS[tap];
        const float r = signals::pcm(sample(rng));
        float acc = 0.0f;
        switch (i % 4) {
            case 0:  // any float on the grid
                acc = std::ldexp(static_cast<float>(mantissa(rng)), scale(rng) - 23);
                break;
            case 1:  // a power of two, where the ulp halves below
                acc = std::ldexp(1.0f, scale(rng));
                break;
            case 2:  // next to the product's own size, for cancellation
                acc = static_cast<float>(-static_cast<double>(r) * c) * (1.0f + std::ldexp(1.0f, -(i % 24)));
                break;
            default:  // a float just off a power of two
                acc = std::nextafter(std::ldexp(1.0f, scale(rng)), 0.0f);
                break;
        }
        if (rng() % 2) acc = -acc;
        // Only accumulators the filter can hold: early taps see multiples of 2^-42, late ones of 2^-65.
        const int grid = tap < varno::EARLY_TAP_COUNT ? 42 : 65;
        acc = std::ldexp(std::nearbyint(std::ldexp(acc, grid)), -grid);
        const float want = oracle::step(acc, r, c);
        ASSERT_EQ(bits(want), bits(varno::tap_step(acc, r, c))) << acc << " + " << r << " * " << c;
        ASSERT_EQ(bits(want), bits(std::fma(r, c, acc))) << acc << " + " << r << " * " << c;
    }
}

// The output step on the corners where rounding x + g * acc once (fused float) or through a double gives
// another float than the 64-bit-significand step: the double lands on a float midpoint that the exact sum
// is above (plain double wrong), or the 64-bit rounding lands on one that the exact sum is not (fused
// float wrong). The candidates' failures show the cases really are those corners.
TEST(OutputStep, CornersWhereSimplerStepsFail) {
    struct Case {
        const char* what;
        float x;
        float gain;
        float acc;
        bool plain_double_right;
        bool fused_float_right;
    };
    const float acc_tap0 = varno::tap_step(0.0f, signals::pcm(-6061), varno::REFLECTION_COEFFICIENTS[0]);
    const Case cases[] = {
        // 2^32 + 1 = 641 * 6700417: the exact sum is 0.5 + 2^-25 + 2^-57.
        {"double lands on a midpoint", 0.5f, std::ldexp(6700417.0f, -42), signals::pcm(641), false, true},
        {"64 bits land on a midpoint", 0.5f, 0x1.424316p-21f, acc_tap0, true, false},
        {"the same, negated", -0.5f, -0x1.424316p-21f, acc_tap0, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const float want = oracle::step(c.x, c.gain, c.acc);
        EXPECT_EQ(bits(want), bits(varno::output_step(c.x, c.gain, c.acc)));
        const auto plain_double = static_cast<float>(static_cast<double>(c.x) +
                                                     static_cast<double>(c.gain) * static_cast<double>(c.acc));
        const float fused_float = std::fma(c.gain, c.acc, c.x);
        EXPECT_EQ(c.plain_double_right, bits(want) == bits(plain_double));
        EXPECT_EQ(c.fused_float_right, bits(want) == bits(fused_float));
    }
}

// The output step against the oracle on random operands, on sums pushed onto float midpoints with an
// exact error term of every size, and on gains up to the float range.
TEST(OutputStep, MatchesTheOracle) {
    std::mt19937 rng(23);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::uniform_int_distribution<std::uint32_t> mantissa(1u << 23, (1u << 24) - 1);
    std::uniform_int_distribution<int> acc_scale(-66, 2);
    std::uniform_int_distribution<int> gain_scale(-149, 127);
    int midpoints = 0;
    for (int i = 0; i < 4'000'000; ++i) {
        const float x = signals::pcm(sample(rng));
        float acc = std::ldexp(static_cast<float>(mantissa(rng)), acc_scale(rng) - 23);
        if (rng() % 2) acc = -acc;
        float gain = 0.0f;
        if (i % 2 == 0) {
            gain = std::ldexp(static_cast<float>(mantissa(rng)), gain_scale(rng) - 23);
            if (!std::isfinite(gain)) gain = FLT_MAX;
        } else {
            // Short operands whose product ends exactly on x's float midpoint bit: s is a midpoint, e = 0.
            int e_x = 0;
            std::frexp(x, &e_x);
            const int a_shift = static_cast<int>(rng() % 12);
            acc = std::ldexp(static_cast<float>(2 * (rng() % 2048) + 1), -a_shift);
            gain = std::ldexp(static_cast<float>(2 * (rng() % 2048) + 1), e_x - 25 + a_shift - static_cast<int>(rng() % 3));
        }
        if (rng() % 2) gain = -gain;
        const float want = oracle::step(x, gain, acc);
        const float got = varno::output_step(x, gain, acc);
        ASSERT_EQ(bits(want), bits(got)) << x << " + " << gain << " * " << acc;
        const double s = static_cast<double>(x) + static_cast<double>(gain) * acc;
        if (std::fabs(s) > 1e-30 && std::fabs(s) < 1e30 &&
            (std::bit_cast<std::uint64_t>(s) & 0x1FFFFFFFu) == 0x10000000u) {
            ++midpoints;
        }
    }
    EXPECT_GT(midpoints, 100'000);  // the short operands really reach the midpoint branch
}

#if VARNO_HAVE_X87_FILTER
// On x86-64 the portable filter gives the same bits as the x87 extended-precision reading, on long
// signals of every kind and on the output-step corners.
TEST(X87Reading, FilterSampleAgrees) {
    struct Signal {
        const char* what;
        std::vector<float> x;
    };
    const Signal inputs[] = {
        {"noise", signals::noise(60000, 3)},
        {"music", signals::music(60000, 4)},
        {"impulses", signals::impulses(60000)},
        {"corner 1", signals::corner(60000, -641, 458, 0.5f)},
        {"corner 2", signals::corner(60000, -6061, 186, 0.5f)},
    };
    for (const Signal& in : inputs) {
        for (const float gain : {0.8f, -2.5f, 1e-7f, 3e4f, FLT_MAX, -FLT_MAX, std::ldexp(6700417.0f, -42),
                                 0x1.424316p-21f}) {
            SCOPED_TRACE(testing::Message() << in.what << " gain " << gain);
            varno::ChannelDelayLine a;
            varno::ChannelDelayLine b;
            varno::reset_delay_line(a);
            varno::reset_delay_line(b);
            for (std::size_t n = 0; n < in.x.size(); ++n) {
                ASSERT_EQ(bits(x87::filter_sample(a, in.x[n], gain)), bits(varno::filter_sample(b, in.x[n], gain)))
                    << "sample " << n;
            }
        }
    }
}

TEST(X87Reading, OutputStepAgrees) {
    std::mt19937 rng(31);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::uniform_int_distribution<std::uint32_t> any(0, 0xFFFFFFFFu);
    for (int i = 0; i < 2'000'000; ++i) {
        const float x = signals::pcm(sample(rng));
        const float acc = std::ldexp(std::bit_cast<float>((any(rng) & 0x807FFFFFu) | 0x3F800000u), static_cast<int>(rng() % 60) - 57);
        float gain = std::bit_cast<float>(any(rng));
        if (!std::isfinite(gain)) gain = 1.0f;
        ASSERT_EQ(bits(x87::output_step(x, gain, acc)), bits(varno::output_step(x, gain, acc)))
            << x << " + " << gain << " * " << acc;
    }
}
#endif

}  // namespace
