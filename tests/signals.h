// Fixed-seed test signals for the filter tests: every value is a 16-bit sample times 2^-15, as the run
// feeds the filter.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace signals {

inline float pcm(int s) { return static_cast<float>(s) / 32768.0f; }

// Full-scale white noise: every 16-bit value, -32768 and 32767 included.
inline std::vector<float> noise(std::size_t length, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<float> x(length);
    for (float& v : x) v = pcm(sample(rng));
    return x;
}

// Music-like: a few decaying partials on changing notes, a little noise, hard clipping on loud peaks.
inline std::vector<float> music(std::size_t length, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> hiss(-40, 40);
    std::vector<float> x(length);
    double f = 220.0;
    for (std::size_t n = 0; n < length; ++n) {
        const std::size_t t = n % 11025;
        if (t == 0) f = 110.0 * std::pow(2.0, static_cast<double>(rng() % 36) / 12.0);
        const double time = static_cast<double>(t) / 44100.0;
        const double tone = std::exp(-4.0 * time) * (std::sin(2 * M_PI * f * time) + 0.4 * std::sin(6 * M_PI * f * time));
        const double v = 30000.0 * tone + hiss(rng);
        x[n] = pcm(static_cast<int>(std::fmax(-32768.0, std::fmin(32767.0, v))));
    }
    return x;
}

// Isolated impulses of assorted heights, further apart than the longest delay, at odd offsets.
inline std::vector<float> impulses(std::size_t length) {
    const int heights[] = {32767, -32768, 1, -1, 12345, -641, 3, 20000};
    std::vector<float> x(length, 0.0f);
    std::size_t k = 0;
    for (std::size_t n = 17; n < length; n += 9533, ++k) x[n] = pcm(heights[k % std::size(heights)]);
    return x;
}

// One output-step corner repeated: a sample s, then `at` samples later the value x, so that the output at
// x's position is x + gain * round(c * s) with a single tap. The period is prime, so the corner moves
// through every lane of a vector.
inline std::vector<float> corner(std::size_t length, int s, int at, float x_at) {
    std::vector<float> x(length, 0.0f);
    for (std::size_t n = 5; n + static_cast<std::size_t>(at) < length; n += 10007) {
        x[n] = pcm(s);
        x[n + static_cast<std::size_t>(at)] = x_at;
    }
    return x;
}

}  // namespace signals
