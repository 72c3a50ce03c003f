// make_demo: writes a short synthetic stereo recording to try the effect on.
//
//   make_demo out.wav [seconds]
//
// A canonical 44-byte-header WAV, 16-bit stereo at 44100 Hz: a slow arpeggio of decaying plucked tones,
// alternating left and right, with a dry click every two seconds so the reflections are easy to hear.
// The signal is fully determined by the program; it downloads and copies nothing.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "wav_file.h"

namespace {

constexpr int SAMPLE_RATE = 44100;
constexpr double PI = 3.14159265358979323846;

std::int16_t to_pcm(double v) {
    if (v > 1.0) v = 1.0;
    if (v < -1.0) v = -1.0;
    return static_cast<std::int16_t>(std::lround(v * 32767.0));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_demo out.wav [seconds]\n");
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 8.0;
    if (!(seconds > 0.0) || seconds > 24.0 * 3600.0) {
        std::fprintf(stderr, "make_demo: seconds must be above 0 and at most 86400\n");
        return 2;
    }
    const auto frames = static_cast<std::uint32_t>(seconds * SAMPLE_RATE);
    const std::uint32_t data_bytes = frames * 4u;

    // A minor-pentatonic arpeggio, one note every quarter second.
    constexpr double NOTES[] = {220.0, 261.63, 293.66, 329.63, 392.0, 440.0, 392.0, 329.63};
    const int note_frames = SAMPLE_RATE / 4;

    std::vector<std::uint8_t> wav;
    wav.reserve(44 + static_cast<std::size_t>(data_bytes));
    tools::put_stereo_header(wav, 1, 16, data_bytes);

    for (std::uint32_t n = 0; n < frames; ++n) {
        const int note = static_cast<int>(n / static_cast<std::uint32_t>(note_frames));
        const double t = static_cast<double>(n % static_cast<std::uint32_t>(note_frames)) / SAMPLE_RATE;
        const double f = NOTES[note % 8];
        const double envelope = std::exp(-6.0 * t);
        const double tone = envelope * (0.5 * std::sin(2 * PI * f * t) + 0.2 * std::sin(4 * PI * f * t) +
                                        0.1 * std::sin(6 * PI * f * t));
        const double pan = (note % 2 == 0) ? 0.8 : 0.3;
        const bool click = n % (2u * SAMPLE_RATE) < 40u;
        const double c = click ? 0.6 : 0.0;
        tools::put_u16(wav, static_cast<std::uint16_t>(to_pcm(0.5 * tone * pan + c)));
        tools::put_u16(wav, static_cast<std::uint16_t>(to_pcm(0.5 * tone * (1.1 - pan) + c)));
    }

    if (!tools::write_wav("make_demo", argv[1], wav)) return 1;
    return 0;
}
