// What the tests share about a run's files and commentary: sizes, the fixed texts written out literally,
// clock masking, sample access in raw frame data, and capturing what a function prints.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>

namespace testing_support {

inline constexpr std::size_t HEADER = 44;
inline constexpr std::size_t BLOCK = 96000;

inline const std::string FOOTER =
    "\n\nVARNO is a tool influencing the timbre of sound \n"
    "and subjective quality of the musical recording\n"
    "- performing reconstruction of acoustics in the ancient theatre\n"
    "  according to Quendaris' De Architectura\n\n";

// A little-endian 32-bit field.
inline std::string le32(std::uint32_t v) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return bytes;
}

// A WAV header for data_bytes of 16-bit stereo PCM at 44100 Hz: the canonical 44 bytes, or longer when
// extra_chunks (whole chunks, id and size included) stand between "fmt " and "data".
inline std::string wav_header(std::uint32_t data_bytes, const std::string& extra_chunks = "") {
    const std::string fmt = std::string("fmt ") + le32(16) + std::string("\x01\x00\x02\x00", 4) + le32(44100) +
                            le32(44100 * 4) + std::string("\x04\x00\x10\x00", 4);
    return "RIFF" + le32(static_cast<std::uint32_t>(4 + fmt.size() + extra_chunks.size() + 8 + data_bytes)) + "WAVE" +
           fmt + extra_chunks + "data" + le32(data_bytes);
}

// Masks the two clock values: the start time and the elapsed time.
inline std::string mask_clock(const std::string& transcript) {
    std::string t = std::regex_replace(transcript, std::regex("Time -?[0-9]+\n"), "Time #\n");
    return std::regex_replace(t, std::regex("TIME: -?[0-9]+:-?[0-9]+"), "TIME: #");
}

// Everything a run prints before it touches a file, with the start time masked.
inline std::string opening(const std::string& input, const std::string& output) {
    return "\n\n\n" + std::string(25, ' ') + "VARNO version 5.1 \n\n" + "process : WAV = " + input + "  -> " + output +
           "\n" + std::string(50, '-') + "\n\n" + "Time #\n" + "Start loading\n";
}

// The signed 16-bit sample of a channel (0 left, 1 right) of a frame in interleaved little-endian data.
inline int sample_at(const std::string& data, std::size_t frame, int channel) {
    const std::size_t i = frame * 4 + static_cast<std::size_t>(channel) * 2;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint8_t>(data[i]) |
                                                                (static_cast<std::uint8_t>(data[i + 1]) << 8)));
}

// Runs body with standard output sent to a temporary file and returns what it printed.
template <typename Body>
std::string capture_stdout(Body body) {
    std::fflush(stdout);
    std::FILE* sink = std::tmpfile();
    const int saved = dup(STDOUT_FILENO);
    dup2(fileno(sink), STDOUT_FILENO);
    body();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string text;
    std::rewind(sink);
    for (int c = std::fgetc(sink); c != EOF; c = std::fgetc(sink)) text.push_back(static_cast<char>(c));
    std::fclose(sink);
    return text;
}

}  // namespace testing_support
