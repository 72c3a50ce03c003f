// The reflection filter against the literal oracle, its impulse response, the limiter, and the
// properties a user relies on: gain 0 is the identity, and the history carries across any split.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "oracle.h"
#include "reflection.h"

namespace {

using varno::ChannelDelayLine;

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

float pcm(int s) { return static_cast<float>(s) / 32768.0f; }

// A fixed-seed test signal: music-like tones with bursts of full-scale noise and the extreme samples.
std::vector<float> mixed_signal(std::size_t length, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-32768, 32767);
    std::vector<float> x(length);
    for (std::size_t n = 0; n < length; ++n) {
        int s = 0;
        const std::size_t phase = (n / 3000) % 4;
        if (phase == 0) {
            s = static_cast<int>(12000.0 * std::sin(0.031 * static_cast<double>(n)) +
                                 5000.0 * std::sin(0.0071 * static_cast<double>(n)));
        } else if (phase == 1) {
            s = noise(rng);
        } else if (phase == 2) {
            s = (n % 97 == 0) ? ((n / 97) % 2 == 0 ? 32767 : -32768) : noise(rng) / 64;
        } else {
            s = noise(rng) / 3;
        }
        x[n] = pcm(s);
    }
    return x;
}

std::vector<float> run_filter(const std::vector<float>& x, float gain, std::size_t chunk) {
    ChannelDelayLine line;
    varno::reset_delay_line(line);
    std::vector<float> y(x.size());
    for (std::size_t start = 0; start < x.size(); start += chunk) {
        const std::size_t count = std::min(chunk, x.size() - start);
        varno::filter_block(line, x.data() + start, y.data() + start, count, gain);
    }
    return y;
}

std::vector<float> run_sample_by_sample(const std::vector<float>& x, float gain) {
    ChannelDelayLine line;
    varno::reset_delay_line(line);
    std::vector<float> y(x.size());
    for (std::size_t n = 0; n < x.size(); ++n) y[n] = varno::filter_sample(line, x[n], gain);
    return y;
}

void expect_same_bits(const std::vector<float>& want, const std::vector<float>& got, const char* what) {
    ASSERT_EQ(want.size(), got.size());
    std::size_t mismatches = 0;
    for (std::size_t n = 0; n < want.size(); ++n) {
        if (bits(want[n]) != bits(got[n])) {
            if (++mismatches <= 5) {
                ADD_FAILURE() << what << ": sample " << n << " want " << want[n] << " (0x" << std::hex
                              << bits(want[n]) << ") got " << got[n] << " (0x" << bits(got[n]) << std::dec << ")";
            }
        }
    }
    EXPECT_EQ(mismatches, 0u) << what;
}

std::vector<float> oracle_filter(const std::vector<float>& x, float gain) {
    return oracle::filter_signal(x, gain, varno::REFLECTION_DELAYS, varno::REFLECTION_COEFFICIENTS,
                                 varno::LIMIT_VALUE);
}

#if LDBL_MANT_DIG == 64
// The oracle's integer rounding agrees with the x87 extended format it models, on random operands of
// every kind the filter meets and on wilder ones.
TEST(Oracle, StepAgreesWithExtendedPrecision) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::uniform_int_distribution<std::uint32_t> any_bits(0, 0xFFFFFFFFu);
    std::uniform_int_distribution<int> tap(0, static_cast<int>(varno::TAP_COUNT) - 1);
    auto finite = [&] {
        for (;;) {
            const float f = std::bit_cast<float>(any_bits(rng));
            if (std::isfinite(f)) return f;
        }
    };
    for (int i = 0; i < 2'000'000; ++i) {
        float a = 0.0f, b = 0.0f, c = 0.0f;
        if (i % 2 == 0) {
            a = std::ldexp(static_cast<float>(sample(rng)), -static_cast<int>(rng() % 40) - 12);
            b = pcm(sample(rng));
            c = varno::REFLECTION_COEFFICIENTS[static_cast<std::size_t>(tap(rng))];
        } else {
            a = finite();
            b = std::ldexp(finite(), -60);
            c = std::ldexp(finite(), -60);
        }
        const auto want = static_cast<float>(static_cast<long double>(a) +
                                             static_cast<long double>(b) * static_cast<long double>(c));
        ASSERT_EQ(bits(want), bits(oracle::step(a, b, c))) << a << " + " << b << " * " << c;
    }
}
#endif

// Held bit for bit against the oracle on a stereo-length signal that crosses the ring wrap (after 8000
// samples), several blocks and the longest delay many times over, fed whole and in odd pieces.
TEST(ReflectionFilter, MatchesOracleOnLongSignals) {
    const std::vector<float> x = mixed_signal(3 * 24000 + 1234, 2024);
    for (const float gain : {0.8f, -1.7f, 3.25f, 1e-3f}) {
        SCOPED_TRACE(gain);
        const std::vector<float> want = oracle_filter(x, gain);
        expect_same_bits(want, run_sample_by_sample(x, gain), "sample by sample");
        expect_same_bits(want, run_filter(x, gain, 24000), "blocks of 24000");
        expect_same_bits(want, run_filter(x, gain, 4093), "pieces of 4093");
        expect_same_bits(want, run_filter(x, gain, 1), "pieces of 1");
    }
}

// One sample a, then silence: at exactly d samples after it the output is g * (c * a), rounded to float
// after the multiplication by c and again after the one by g; everywhere else it is 0.
TEST(ReflectionFilter, ImpulseGivesEachTapOnce) {
    struct Case {
        float a;
        float gain;
    };
    for (const Case c : {Case{0.5f, 0.75f}, Case{-1.0f, 1.0f}, Case{pcm(12345), -2.5f}, Case{pcm(-3), 1e5f}}) {
        SCOPED_TRACE(c.gain);
        std::vector<float> x(varno::MAX_DELAY + 2000, 0.0f);
        x[0] = c.a;
        const std::vector<float> y = run_filter(x, c.gain, 24000);
        std::vector<float> want(x.size(), 0.0f);
        want[0] = c.a;
        for (std::size_t tap = 0; tap < varno::TAP_COUNT; ++tap) {
            const float reflected = varno::REFLECTION_COEFFICIENTS[tap] * c.a;
            want[static_cast<std::size_t>(varno::REFLECTION_DELAYS[tap])] =
                oracle::limit(c.gain * reflected, varno::LIMIT_VALUE);
        }
        for (std::size_t n = 0; n < x.size(); ++n) {
            ASSERT_EQ(bits(want[n] + 0.0f), bits(y[n] + 0.0f)) << "sample " << n;
        }
    }
    // Tap 11 is the strongest reflection, -1.0, 458 samples back: it gives -g * a there.
    std::vector<float> x(600, 0.0f);
    x[0] = 0.25f;
    EXPECT_EQ(run_filter(x, 2.0f, 600)[458], -0.5f);
}

// The output step x + g * acc rounded through 53 bits instead of 64 lands on a float midpoint here: with
// 2^32 + 1 = 641 * 6700417, acc = 641 * 2^-15 (tap 11 reading -641) and g = 6700417 * 2^-42, the exact
// sum is 0.5 + 2^-25 + 2^-57, which the 64-bit significand keeps above the midpoint 0.5 + 2^-25 and so
// rounds up to 0.5 + 2^-24, while a double would round it onto the midpoint and then to the even 0.5.
TEST(ReflectionFilter, OutputStepKeepsSixtyFourBits) {
    std::vector<float> x(600, 0.0f);
    x[0] = pcm(-641);
    x[458] = 0.5f;
    const float gain = std::ldexp(6700417.0f, -42);
    const std::vector<float> y = run_filter(x, gain, 600);
    EXPECT_EQ(y[458], 0.5f + std::ldexp(1.0f, -24));
    expect_same_bits(oracle_filter(x, gain), y, "midpoint corner");
}

// Gain 0 (of either sign) and the first 186 samples of any run give the input back exactly.
TEST(ReflectionFilter, IdentityWhereNoReflectionAdds) {
    const std::vector<float> x = mixed_signal(40000, 99);
    for (const float gain : {0.0f, -0.0f}) {
        const std::vector<float> y = run_filter(x, gain, 24000);
        for (std::size_t n = 0; n < x.size(); ++n) ASSERT_EQ(x[n], y[n]) << "sample " << n;
    }
    const std::vector<float> y = run_filter(x, 7.0f, 24000);
    for (std::size_t n = 0; n < static_cast<std::size_t>(varno::MIN_DELAY); ++n) ASSERT_EQ(x[n], y[n]);
    EXPECT_NE(x[varno::MIN_DELAY + 1], y[varno::MIN_DELAY + 1]);  // x[1] is the first nonzero sample
}

TEST(ReflectionFilter, ResetForgetsEarlierInput) {
    ChannelDelayLine line;
    varno::reset_delay_line(line);
    for (int n = 0; n < 20000; ++n) varno::filter_sample(line, pcm(30000), 1.0f);
    varno::reset_delay_line(line);
    EXPECT_EQ(line.write_index, varno::RING_START);
    for (int n = 0; n < 1000; ++n) ASSERT_EQ(varno::filter_sample(line, 0.0f, 1.0f), 0.0f);
}

// Huge finite gains push x + g * acc past the float range; the limiter turns that into +-0.99.
TEST(ReflectionFilter, HugeGainsAreLimited) {
    const std::vector<float> x = mixed_signal(12000, 5);
    for (const float gain : {FLT_MAX, -FLT_MAX, 1e30f}) {
        expect_same_bits(oracle_filter(x, gain), run_filter(x, gain, 24000), "huge gain");
    }
}

TEST(Limiter, Table) {
    const float limit = std::bit_cast<float>(0x3F7D70A4u);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float y;
        float want;
    };
    const Case cases[] = {
        {1.5f, limit},
        {-1.5f, -limit},
        {1.0f, 1.0f},
        {-1.0f, -1.0f},
        {std::nextafter(1.0f, 2.0f), limit},
        {std::nextafter(-1.0f, -2.0f), -limit},
        {0.995f, 0.995f},
        {-0.995f, -0.995f},
        {0.0f, 0.0f},
        {inf, limit},
        {-inf, -limit},
        {nan, -limit},
    };
    EXPECT_EQ(limit, 0.99f);
    for (const Case& c : cases) {
        EXPECT_EQ(bits(c.want), bits(varno::limit_sample(c.y))) << c.y;
    }
}

}  // namespace
