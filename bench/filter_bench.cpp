// filter_bench: samples per second of one channel, sequential filter_sample against filter_block on
// every block path this CPU has, on one block (24000 samples) of full-scale noise at a time.
//
//   build/filter_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "reflection.h"

namespace {

constexpr std::size_t BLOCK = 24000;

std::vector<float> noise(std::size_t length) {
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<float> x(length);
    for (float& v : x) v = static_cast<float>(sample(rng)) / 32768.0f;
    return x;
}

void filter_sample_loop(benchmark::State& state) {
    const std::vector<float> x = noise(BLOCK);
    std::vector<float> y(BLOCK);
    varno::ChannelDelayLine line;
    varno::reset_delay_line(line);
    for (auto _ : state) {
        for (std::size_t n = 0; n < BLOCK; ++n) y[n] = varno::filter_sample(line, x[n], 0.8f);
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * BLOCK));
}

void filter_block_on(benchmark::State& state, varno::BlockPath path) {
    const varno::BlockPath saved = varno::active_block_path();
    if (!varno::use_block_path(path)) {
        state.SkipWithError("this CPU lacks the path");
        return;
    }
    const std::vector<float> x = noise(BLOCK);
    std::vector<float> y(BLOCK);
    varno::ChannelDelayLine line;
    varno::reset_delay_line(line);
    for (auto _ : state) {
        varno::filter_block(line, x.data(), y.data(), BLOCK, 0.8f);
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * BLOCK));
    varno::use_block_path(saved);
}

BENCHMARK(filter_sample_loop);
BENCHMARK_CAPTURE(filter_block_on, portable, varno::BlockPath::portable);
BENCHMARK_CAPTURE(filter_block_on, sse2, varno::BlockPath::sse2);
BENCHMARK_CAPTURE(filter_block_on, avx2, varno::BlockPath::avx2);
BENCHMARK_CAPTURE(filter_block_on, avx512, varno::BlockPath::avx512);

}  // namespace
