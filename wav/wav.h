// One run of the program: read a canonical 16-bit stereo WAV, copy its 44-byte header, filter every
// whole 96000-byte block of audio through the two channels' reflection filters, write the result, and
// keep up the running commentary on standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace varno {

inline constexpr std::size_t HEADER_BYTES = 44;
inline constexpr std::size_t BLOCK_BYTES = 96000;
inline constexpr std::size_t BYTES_PER_FRAME = 4;
inline constexpr std::size_t FRAMES_PER_BLOCK = BLOCK_BYTES / BYTES_PER_FRAME;
inline constexpr std::int64_t FRAMES_PER_SECOND = 44100;
inline constexpr std::int64_t MARKS_PER_COUNT = 60;

static_assert(FRAMES_PER_BLOCK * BYTES_PER_FRAME == BLOCK_BYTES, "a block holds whole frames");

// --- Frames -------------------------------------------------------------------------------------------

// A little-endian signed 16-bit sample as a float: s * 2^-15, exact.
inline float decode_sample(std::uint8_t low, std::uint8_t high) {
    const auto s = static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
    return static_cast<float>(s) * 0.000030517578125f;
}

// A filtered value back to 16 bits: y * 32768 truncated toward zero. The limiter keeps y in [-1, 1];
// exactly +1.0 would give 32768, one past the largest sample, and is stored as 32767.
inline std::int16_t encode_sample(float y) {
    const auto v = static_cast<std::int32_t>(y * 32768.0f);
    return static_cast<std::int16_t>(v > 32767 ? 32767 : v);
}

inline void store_sample(std::uint8_t* bytes, std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    bytes[0] = static_cast<std::uint8_t>(u & 0xFFu);
    bytes[1] = static_cast<std::uint8_t>(u >> 8);
}

// --- Gain ---------------------------------------------------------------------------------------------

struct GainReading {
    float gain;
    bool in_range;  // false when the number is beyond the float range (its gain would be infinite)
};

// Reads the gain text as a decimal number: leading white space, an optional sign, digits with an optional
// '.', an optional exponent; the first character that does not fit ends it, and no number in front gives
// 0.0. No hexadecimal, infinity or NaN forms, and no dependence on the locale. The decimal is rounded to a
// double, and the double to a float.
GainReading read_gain(const char* text);

// --- Console ------------------------------------------------------------------------------------------

// Every text goes to standard output; when that is a terminal it is flushed at once, otherwise it is
// left to the stream's full buffering.
void print_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The summary's duration: whole blocks x 96000 bytes / 44100 frames per second / 4 bytes per frame,
// each division truncating.
constexpr std::int64_t audio_duration_seconds(std::int64_t block_count) {
    return block_count * static_cast<std::int64_t>(BLOCK_BYTES) / FRAMES_PER_SECOND /
           static_cast<std::int64_t>(BYTES_PER_FRAME);
}

void print_banner();
std::int64_t print_start_time();  // returns the start time it printed
void print_progress_mark(std::int64_t block_count);
void print_summary(std::int64_t block_count, std::int64_t start_time);

// --- The run ------------------------------------------------------------------------------------------

enum class RunOutcome { finished, failed };

// Runs the whole job for one input and output file and the gain text. A refusal or failure prints one
// line naming the file and ends the run without its summary.
RunOutcome process_file(const char* input_path, const char* output_path, const char* gain_text);

}  // namespace varno
