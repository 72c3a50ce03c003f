// The varno program end to end: the whole console transcript, the output bytes against the literal
// oracle, the file sizes, and the identities a user can check by ear.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "oracle.h"
#include "reflection.h"
#include "run_program.h"
#include "transcript.h"

namespace {

using testing_support::BLOCK;
using testing_support::FOOTER;
using testing_support::HEADER;
using testing_support::mask_clock;
using testing_support::sample_at;
using testing_support::wav_header;
using testing_support::file_exists;
using testing_support::read_file;
using testing_support::run_program;
using testing_support::write_file;



// Interleaved stereo frames from two sample lists.
std::string frames(const std::vector<int>& left, const std::vector<int>& right) {
    std::string data;
    for (std::size_t k = 0; k < left.size(); ++k) {
        for (const int s : {left[k], right[k]}) {
            const auto u = static_cast<std::uint16_t>(s);
            data.push_back(static_cast<char>(u & 0xFF));
            data.push_back(static_cast<char>(u >> 8));
        }
    }
    return data;
}

std::vector<int> noise(std::size_t count, std::uint32_t seed, int amplitude) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-amplitude - 1, amplitude);
    std::vector<int> s(count);
    for (int& v : s) v = dist(rng);
    return s;
}

class VarnoRun : public ::testing::Test {
protected:
    void SetUp() override { dir = testing_support::make_scratch_dir(); }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    testing_support::ProgramResult varno(const std::vector<std::string>& args) {
        return run_program(VARNO_EXECUTABLE, args, dir);
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }

    std::string dir;
};

TEST_F(VarnoRun, WholeTranscript) {
    // 61 blocks and a part-block: the count line after block 60, one mark after it, then the summary.
    const std::size_t frames_count = 61 * (BLOCK / 4) + 300;
    const std::string data = frames(noise(frames_count, 1, 3000), noise(frames_count, 2, 3000));
    write_file(path("in.wav"), wav_header(static_cast<std::uint32_t>(data.size())) + data);
    const auto result = varno({"in.wav", "out.wav", "0.5"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");
    const std::string want = "\n\n\n" + std::string(25, ' ') + "VARNO version 5.1 \n\n" +
                             "process : WAV = in.wav  -> out.wav\n" + std::string(50, '-') + "\n\n" +
                             "Time #\n" + "Start loading\n" + "Header copied successfully\n" + std::string(60, '*') +
                             "\r1\t*" + "\nFILE 0:33\n" + "\nTIME: #" + FOOTER;
    EXPECT_EQ(mask_clock(result.out), want);
    EXPECT_TRUE(std::regex_search(result.out, std::regex("\nTime [0-9]{10,}\n")));
    EXPECT_TRUE(std::regex_search(result.out, std::regex("\nTIME: 0:[0-9][0-9]\n\nVARNO")));
}

TEST_F(VarnoRun, TooFewArguments) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"in.wav"}, {"in.wav", "out.wav"}}) {
        const auto result = varno(args);
        EXPECT_EQ(result.exit_status, 2);
        EXPECT_EQ(result.out, "You have given too few arguments\n" + FOOTER);
        EXPECT_EQ(result.err, "");
    }
    EXPECT_FALSE(file_exists(path("out.wav")));
}

// Every output byte is what the literal oracle computes from the input, across block boundaries, on
// both channels, with a part-block at the end that is dropped.
TEST_F(VarnoRun, OutputMatchesOracle) {
    const std::size_t frames_count = 3 * (BLOCK / 4) + 555;
    std::vector<int> left = noise(frames_count, 11, 32767);
    std::vector<int> right = noise(frames_count, 12, 9000);
    left[100] = -32768;
    left[5000] = 32767;
    const std::string data = frames(left, right);
    const std::string header = wav_header(static_cast<std::uint32_t>(data.size()));
    write_file(path("in.wav"), header + data);

    for (const std::string gain : {"-1.3", "0.8", "40"}) {
        SCOPED_TRACE(gain);
        const auto result = varno({"in.wav", "out.wav", gain});
        ASSERT_EQ(result.exit_status, 0);
        const std::string out = read_file(path("out.wav"));
        ASSERT_EQ(out.size(), HEADER + 3 * BLOCK);
        EXPECT_EQ(out.substr(0, HEADER), header);
        const std::string out_data = out.substr(HEADER);
        const float g = static_cast<float>(std::stod(gain));
        for (int channel = 0; channel < 2; ++channel) {
            const std::size_t whole = 3 * BLOCK / 4;
            std::vector<float> x(whole);
            for (std::size_t k = 0; k < whole; ++k) x[k] = static_cast<float>(sample_at(data, k, channel)) / 32768.0f;
            const std::vector<float> y = oracle::filter_signal(x, g, varno::REFLECTION_DELAYS,
                                                               varno::REFLECTION_COEFFICIENTS, varno::LIMIT_VALUE);
            for (std::size_t k = 0; k < whole; ++k) {
                long v = static_cast<long>(static_cast<double>(y[k]) * 32768.0);  // truncates toward zero
                if (v == 32768) v = 32767;
                ASSERT_EQ(sample_at(out_data, k, channel), v) << "channel " << channel << " frame " << k;
            }
        }
    }
}

// Output size is the header plus the whole blocks; the header goes out as it came in, zero-filled when
// the input is shorter than a header.
TEST_F(VarnoRun, FileSizes) {
    struct Case {
        std::size_t input_bytes;
        std::size_t blocks;
    };
    const Case cases[] = {
        {0, 0},
        {1, 0},
        {43, 0},
        {44, 0},
        {45, 0},
        {HEADER + BLOCK - 1, 0},
        {HEADER + BLOCK, 1},
        {HEADER + BLOCK + 1, 1},
        {HEADER + 2 * BLOCK + 4321, 2},
    };
    std::mt19937 rng(3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input_bytes);
        std::string input(c.input_bytes, '\0');
        for (char& b : input) b = static_cast<char>(rng());
        write_file(path("in.wav"), input);
        const auto result = varno({"in.wav", "out.wav", "1"});
        EXPECT_EQ(result.exit_status, 0);
        const std::string out = read_file(path("out.wav"));
        ASSERT_EQ(out.size(), HEADER + c.blocks * BLOCK);
        std::string want_header = input.substr(0, HEADER);
        want_header.resize(HEADER, '\0');
        EXPECT_EQ(out.substr(0, HEADER), want_header);
        const std::string marks(c.blocks, '*');
        EXPECT_NE(result.out.find("Header copied successfully\n" + marks + "\nFILE 0:0"), std::string::npos);
    }
}

// Gain 0, or text with no number in front, gives the whole blocks back byte for byte.
TEST_F(VarnoRun, ZeroGainGivesInputBack) {
    const std::size_t frames_count = 2 * (BLOCK / 4) + 10;
    const std::string data = frames(noise(frames_count, 5, 32767), noise(frames_count, 6, 32767));
    const std::string input = wav_header(static_cast<std::uint32_t>(data.size())) + data;
    write_file(path("in.wav"), input);
    for (const std::string gain : {"0", "-0.0", "loud", "0x10", "inf", "nan"}) {
        SCOPED_TRACE(gain);
        const auto result = varno({"in.wav", "out.wav", gain});
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(read_file(path("out.wav")), input.substr(0, HEADER + 2 * BLOCK));
    }
}

// The channels never mix: the right channel's output depends on the right input alone, and a silent
// right channel stays silent whatever the left carries.
TEST_F(VarnoRun, ChannelsAreIndependent) {
    const std::size_t frames_count = BLOCK / 4 * 2;
    const std::vector<int> right = noise(frames_count, 8, 20000);
    write_file(path("a.wav"), wav_header(0) + frames(noise(frames_count, 7, 32767), right));
    write_file(path("b.wav"), wav_header(0) + frames(std::vector<int>(frames_count, 0), right));
    write_file(path("c.wav"), wav_header(0) + frames(noise(frames_count, 9, 32767), std::vector<int>(frames_count, 0)));
    ASSERT_EQ(varno({"a.wav", "a-out.wav", "2"}).exit_status, 0);
    ASSERT_EQ(varno({"b.wav", "b-out.wav", "2"}).exit_status, 0);
    ASSERT_EQ(varno({"c.wav", "c-out.wav", "2"}).exit_status, 0);
    const std::string a = read_file(path("a-out.wav")).substr(HEADER);
    const std::string b = read_file(path("b-out.wav")).substr(HEADER);
    const std::string c = read_file(path("c-out.wav")).substr(HEADER);
    for (std::size_t k = 0; k < frames_count; ++k) {
        ASSERT_EQ(sample_at(a, k, 1), sample_at(b, k, 1)) << k;
        ASSERT_EQ(sample_at(b, k, 0), 0) << k;
        ASSERT_EQ(sample_at(c, k, 1), 0) << k;
    }
}

TEST_F(VarnoRun, ArgumentsAfterTheThirdAreIgnored) {
    const std::string data = frames(noise(BLOCK / 4, 4, 10000), noise(BLOCK / 4, 5, 10000));
    write_file(path("in.wav"), wav_header(static_cast<std::uint32_t>(data.size())) + data);
    const auto plain = varno({"in.wav", "plain.wav", "1.25"});
    const auto extra = varno({"in.wav", "extra.wav", "1.25", "--help", "more.wav"});
    EXPECT_EQ(extra.exit_status, 0);
    EXPECT_EQ(read_file(path("plain.wav")), read_file(path("extra.wav")));
    EXPECT_FALSE(file_exists(path("more.wav")));
    EXPECT_EQ(mask_clock(std::regex_replace(plain.out, std::regex("plain"), "extra")), mask_clock(extra.out));
}

}  // namespace
