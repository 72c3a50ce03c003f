// Every block path held bit for bit to the sequential filter_sample: long fixed-seed signals of every
// kind, gains of many sizes and signs (up to those that overflow into the limiter), odd splits, and
// per-sample and per-block calls mixed on one line. Each path this CPU has is tested, whatever the
// dispatcher would pick.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

#include "reflection.h"
#include "signals.h"

namespace {

using varno::BlockPath;

std::vector<float> sequential(const std::vector<float>& x, float gain) {
    varno::ChannelDelayLine line;
    varno::reset_delay_line(line);
    std::vector<float> y(x.size());
    for (std::size_t n = 0; n < x.size(); ++n) y[n] = varno::filter_sample(line, x[n], gain);
    return y;
}

// Feeds x in pieces of the given sizes (cycling); a size of 0 stands for one filter_sample call.
std::vector<float> in_pieces(const std::vector<float>& x, float gain, const std::vector<std::size_t>& sizes,
                             varno::ChannelDelayLine& line) {
    varno::reset_delay_line(line);
    std::vector<float> y(x.size());
    std::size_t k = 0;
    for (std::size_t start = 0; start < x.size(); ++k) {
        const std::size_t size = sizes[k % sizes.size()];
        if (size == 0) {
            y[start] = varno::filter_sample(line, x[start], gain);
            ++start;
            continue;
        }
        const std::size_t count = std::min(size, x.size() - start);
        varno::filter_block(line, x.data() + start, y.data() + start, count, gain);
        start += count;
    }
    return y;
}

void expect_same_bits(const std::vector<float>& want, const std::vector<float>& got) {
    ASSERT_EQ(want.size(), got.size());
    std::size_t mismatches = 0;
    for (std::size_t n = 0; n < want.size(); ++n) {
        if (std::bit_cast<std::uint32_t>(want[n]) != std::bit_cast<std::uint32_t>(got[n]) && ++mismatches <= 5) {
            ADD_FAILURE() << "sample " << n << " want " << std::hexfloat << want[n] << " got " << got[n];
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

class BlockPathTest : public testing::TestWithParam<BlockPath> {
protected:
    void SetUp() override {
        saved_ = varno::active_block_path();
        if (!varno::use_block_path(GetParam())) GTEST_SKIP() << "this CPU lacks " << varno::block_path_name(GetParam());
    }
    void TearDown() override { varno::use_block_path(saved_); }
    BlockPath saved_ = BlockPath::portable;
};

struct Signal {
    const char* what;
    std::vector<float> x;
};

const std::vector<Signal>& test_signals() {
    static const std::vector<Signal> all = {
        {"noise", signals::noise(3 * 24000 + 777, 1)},
        {"music", signals::music(3 * 24000 + 777, 2)},
        {"impulses", signals::impulses(3 * 24000 + 777)},
        {"double corner", signals::corner(3 * 24000, -641, 458, 0.5f)},
        {"64-bit corner", signals::corner(3 * 24000, -6061, 186, 0.5f)},
    };
    return all;
}

TEST_P(BlockPathTest, MatchesFilterSampleOnEverySignalAndGain) {
    const float gains[] = {0.8f, -0.8f, 1.0f, -1.7f, 3.25f, 1e-3f, -7e-6f, 1e-30f, -1e-45f, 4096.0f, -6e5f,
                           1e30f, FLT_MAX, -FLT_MAX, std::ldexp(6700417.0f, -42), 0x1.424316p-21f, 0.0f};
    for (const Signal& s : test_signals()) {
        for (const float gain : gains) {
            SCOPED_TRACE(testing::Message() << s.what << " gain " << gain);
            const std::vector<float> want = sequential(s.x, gain);
            varno::ChannelDelayLine line;
            expect_same_bits(want, in_pieces(s.x, gain, {24000}, line));
        }
    }
}

// Any split gives the same output and leaves the line as filter_sample would: pieces shorter than a
// vector, than a kernel group, longer than a chunk, and single filter_sample calls in between.
TEST_P(BlockPathTest, AnySplitGivesTheSameOutput) {
    const std::vector<float>& x = test_signals()[1].x;
    const float gain = -1.3f;
    const std::vector<float> want = sequential(x, gain);
    varno::ChannelDelayLine whole;
    varno::reset_delay_line(whole);
    for (const float v : x) varno::filter_sample(whole, v, gain);
    const std::vector<std::vector<std::size_t>> splits = {
        {1}, {7, 0, 129, 0, 0, 4093}, {16000}, {9600, 3, 30000}, {5000, 0}, {127, 128, 129, 255, 256, 257},
    };
    for (const auto& sizes : splits) {
        SCOPED_TRACE(sizes.size());
        varno::ChannelDelayLine line;
        expect_same_bits(want, in_pieces(x, gain, sizes, line));
        EXPECT_EQ(line.write_index % varno::RING_LENGTH, whole.write_index % varno::RING_LENGTH);
        for (std::int32_t j = 0; j < varno::RING_LENGTH; ++j) ASSERT_EQ(line.ring[j], whole.ring[j]) << j;
    }
}

// The output-step corner where a double sum lands on a float midpoint (see signals::corner), placed in
// every part of a kernel call: first and last lanes of the wide groups, the single-register groups after
// them and the one-sample remainder. Each corner lies far enough from the next that only its own tap
// reaches it, so its output is known: 0.5 + 2^-24, where a kernel that skipped the exact redo would
// give 0.5.
TEST_P(BlockPathTest, MidpointCornersInEveryPartOfACall) {
    constexpr std::size_t PIECE = 4093;
    constexpr std::size_t CORNER_AT = 458;  // tap 11, coefficient -1.0
    const std::size_t offsets[] = {0, 1, 15, 16, 191, 192, 2000, 4031, 4032, 4047, 4048, 4079, 4080, 4081, 4092};
    std::vector<float> x(PIECE * (3 * std::size(offsets) + 3), 0.0f);
    std::vector<std::size_t> corners;
    for (std::size_t i = 0; i < std::size(offsets); ++i) {
        const std::size_t at = PIECE * (3 * i + 1) + offsets[i];  // 3 pieces apart: beyond the longest delay
        x[at - CORNER_AT] = signals::pcm(-641);
        x[at] = 0.5f;
        corners.push_back(at);
    }
    const float gain = std::ldexp(6700417.0f, -42);
    const std::vector<float> want = sequential(x, gain);
    varno::ChannelDelayLine line;
    const std::vector<float> got = in_pieces(x, gain, {PIECE}, line);
    expect_same_bits(want, got);
    for (const std::size_t at : corners) EXPECT_EQ(got[at], 0.5f + std::ldexp(1.0f, -24)) << "corner at " << at;
}

std::string path_name(const testing::TestParamInfo<BlockPath>& info) { return varno::block_path_name(info.param); }

INSTANTIATE_TEST_SUITE_P(Paths, BlockPathTest, testing::ValuesIn(varno::ALL_BLOCK_PATHS), path_name);

TEST(BlockPath, ThisCpuUsesAFastPath) {
    EXPECT_NE(varno::active_block_path(), BlockPath::sequential);
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512f")) {
        EXPECT_TRUE(varno::block_path_supported(BlockPath::avx512));
    }
    EXPECT_TRUE(varno::block_path_supported(BlockPath::sse2));
#endif
}

}  // namespace
