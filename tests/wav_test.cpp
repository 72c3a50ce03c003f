// Sample conversions, the gain grammar, and the commentary's progress marks and summary.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <regex>
#include <string>

#include "wav.h"
#include "transcript.h"

namespace {

using testing_support::capture_stdout;

TEST(Frames, DecodeTable) {
    struct Case {
        std::uint8_t low, high;
        float want;
    };
    const Case cases[] = {
        {0x00, 0x00, 0.0f},
        {0x01, 0x00, 1.0f / 32768.0f},
        {0xFF, 0xFF, -1.0f / 32768.0f},
        {0xFF, 0x7F, 32767.0f / 32768.0f},
        {0x00, 0x80, -1.0f},
        {0x34, 0x12, 4660.0f / 32768.0f},
    };
    for (const Case& c : cases) EXPECT_EQ(varno::decode_sample(c.low, c.high), c.want) << int{c.low} << int{c.high};
}

TEST(Frames, EncodeTable) {
    struct Case {
        float y;
        int want;
    };
    const Case cases[] = {
        {-0.7f / 32768.0f, 0},
        {32440.32f / 32768.0f, 32440},
        {0.99f, 32440},
        {-0.99f, -32440},
        {-1.0f, -32768},
        {1.0f, 32767},  // one past the 16-bit range: stored as the largest sample
        {std::nextafter(1.0f, 0.0f), 32767},
        {32767.0f / 32768.0f, 32767},
        {0.5f, 16384},
        {-0.5f, -16384},
        {-0.0f, 0},
        {-1.5f / 32768.0f, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(varno::encode_sample(c.y), c.want) << c.y;
}

TEST(Frames, EverySampleSurvivesTheRoundTrip) {
    for (int s = -32768; s <= 32767; ++s) {
        const auto u = static_cast<std::uint16_t>(s);
        const float x = varno::decode_sample(static_cast<std::uint8_t>(u & 0xFF), static_cast<std::uint8_t>(u >> 8));
        std::uint8_t bytes[2];
        varno::store_sample(bytes, varno::encode_sample(x));
        ASSERT_EQ(bytes[0], u & 0xFF);
        ASSERT_EQ(bytes[1], u >> 8);
    }
}

TEST(Gain, Table) {
    struct Case {
        const char* text;
        float want;
        bool in_range;
    };
    // Expected values are C++ literals: a decimal rounded to double, then narrowed to float.
    const Case cases[] = {
        {"0", 0.0f, true},
        {"0.8", static_cast<float>(0.8), true},
        {"1.5abc", 1.5f, true},
        {"   -2e-1", static_cast<float>(-0.2), true},
        {"\t\n\v\f\r 7", 7.0f, true},
        {"+.5", 0.5f, true},
        {"-.25e+1x", -2.5f, true},
        {"2E3", 2000.0f, true},
        {"1e", 1.0f, true},
        {"1e+", 1.0f, true},
        {"3.e-", 3.0f, true},
        {"0x10", 0.0f, true},
        {"0X1p3", 0.0f, true},
        {"abc", 0.0f, true},
        {"", 0.0f, true},
        {".", 0.0f, true},
        {"-", 0.0f, true},
        {"e5", 0.0f, true},
        {"inf", 0.0f, true},
        {"-infinity", 0.0f, true},
        {"nan", 0.0f, true},
        {"NAN(123)", 0.0f, true},
        {"1,5", 1.0f, true},
        {"1e-400", 0.0f, true},
        {"1e-50", 0.0f, true},
        {"1e-40", static_cast<float>(1e-40), true},
        {"0000000000000000000000000000000000012.5", 12.5f, true},
        {"0.000000000000000000000000000000000000000000000000001e51", 1.0f, true},
        {"3.4028235e38", FLT_MAX, true},
        {"1e39", HUGE_VALF, false},
        {"-1e400", -HUGE_VALF, false},
        {"3.4028236e38", HUGE_VALF, false},
        {"123456789012345678901234567890123456789012345678901234567890", HUGE_VALF, false},
        {"1e999999999999999999999", HUGE_VALF, false},
        {"1e-999999999999999999999", 0.0f, true},
        // Just above the midpoint between 1 and the next float: straight to float it would round up,
        // through the double it is the midpoint itself and ties to the even 1.0.
        {"1.00000005960464477539062500000000001", 1.0f, true},
    };
    for (const Case& c : cases) {
        const varno::GainReading got = varno::read_gain(c.text);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(got.gain), std::bit_cast<std::uint32_t>(c.want)) << '"' << c.text << '"';
        EXPECT_EQ(got.in_range, c.in_range) << '"' << c.text << '"';
    }
    EXPECT_EQ(std::bit_cast<std::uint32_t>(varno::read_gain("-0").gain), std::bit_cast<std::uint32_t>(-0.0f));
}

TEST(Gain, IgnoresTheLocale) {
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            chosen = name;
            break;
        }
    }
    if (chosen == nullptr) GTEST_SKIP() << "no locale with a decimal comma is installed";
    EXPECT_EQ(varno::read_gain("1.5").gain, 1.5f);
    EXPECT_EQ(varno::read_gain("1,5").gain, 1.0f);
    std::setlocale(LC_ALL, "C");
}

TEST(Progress, MarksAndCountLines) {
    const std::string got = capture_stdout([] {
        for (std::int64_t block = 1; block <= 121; ++block) varno::print_progress_mark(block);
    });
    const std::string want = std::string(59, '*') + "*\r1\t" + std::string(59, '*') + "*\r2\t*";
    EXPECT_EQ(got, want);
}

TEST(Summary, FileDurationTable) {
    struct Case {
        std::int64_t blocks;
        const char* want;
    };
    const Case cases[] = {
        {0, "0:00"},     {1, "0:00"},       {2, "0:01"},     {60, "0:32"},
        {61, "0:33"},    {110, "0:59"},     {111, "1:00"},   {120, "1:05"},
        {1000, "9:04"},  {22370, "202:54"},  // 2147520000 data bytes, past 2^31
        {44740, "405:48"},                   // 4295040000 data bytes, past 2^32
        {2000000, "18140:35"},
    };
    for (const Case& c : cases) {
        const std::string got = capture_stdout([&] { varno::print_summary(c.blocks, std::time(nullptr)); });
        EXPECT_EQ(got.substr(0, got.find("\nTIME")), std::string("\nFILE ") + c.want + "\n") << c.blocks;
    }
}

TEST(Summary, ElapsedTime) {
    struct Case {
        std::int64_t seconds_ago;
        const char* pattern;  // the clock may tick once during the test
    };
    const Case cases[] = {
        {0, "0:0[01]"},
        {75, "1:1[56]"},
        {3600, "60:0[01]"},
        {-75, "-1:-1[45]"},  // the clock set back during a run
    };
    for (const Case& c : cases) {
        const std::string got = capture_stdout([&] { varno::print_summary(0, std::time(nullptr) - c.seconds_ago); });
        EXPECT_TRUE(std::regex_match(got, std::regex(std::string("\nFILE 0:00\n\nTIME: ") + c.pattern))) << got;
    }
}

TEST(Banner, TitleBlock) {
    EXPECT_EQ(capture_stdout([] { varno::print_banner(); }),
              "\n\n\n                         VARNO version 5.1 \n\n");
}

}  // namespace
