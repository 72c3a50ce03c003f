// Long runs: the duration the summary reports, for block counts whose data passes 2^31 and 2^32 bytes,
// up to the largest count a signed 32-bit counter holds. The reference works in 128-bit integers and
// prints by hand, so neither a 32-bit product nor printf's handling of wide values can hide in both.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "transcript.h"
#include "wav.h"

namespace {

__extension__ typedef unsigned __int128 u128;

// Whole seconds of audio in blocks of 96000 bytes: bytes / 44100 frames per second / 4 bytes per frame.
std::string reference_file_line(std::int64_t blocks) {
    const u128 bytes = static_cast<u128>(blocks) * 96000u;
    const u128 seconds = bytes / 44100u / 4u;
    std::string minutes;
    for (u128 m = seconds / 60u; minutes.empty() || m != 0; m /= 10u) minutes.insert(0, 1, static_cast<char>('0' + m % 10u));
    const auto s = static_cast<int>(seconds % 60u);
    return "\nFILE " + minutes + ":" + static_cast<char>('0' + s / 10) + static_cast<char>('0' + s % 10) + "\n";
}

std::string summary_text(std::int64_t blocks) {
    const std::string text = testing_support::capture_stdout(
        [&] { varno::print_summary(blocks, static_cast<std::int64_t>(std::time(nullptr))); });
    return text.substr(0, text.find("\nTIME"));
}

TEST(LongRuns, FileLinePastTwoAndFourGibibytes) {
    const std::int64_t cases[] = {
        22369,       // 2147424000 bytes, just below 2^31
        22370,       // 2147520000 bytes, just past 2^31
        44739,       // 4294944000 bytes, just below 2^32
        44740,       // 4295040000 bytes, just past 2^32
        89478,       // past 2^33
        2147483647,  // the largest signed 32-bit block count: about 206 TB of audio
    };
    for (const std::int64_t blocks : cases) EXPECT_EQ(summary_text(blocks), reference_file_line(blocks)) << blocks;
    EXPECT_EQ(reference_file_line(22370), "\nFILE 202:54\n");
}

// Every block count up to a run of 10 GB, against the reference arithmetic.
TEST(LongRuns, DurationOfEveryBlockCount) {
    for (std::int64_t blocks = 0; blocks <= 110000; ++blocks) {
        const auto want = static_cast<std::int64_t>(static_cast<u128>(blocks) * 96000u / 44100u / 4u);
        ASSERT_EQ(varno::audio_duration_seconds(blocks), want) << blocks;
    }
}

}  // namespace
