// make_impulse: writes the filter's impulse response as a WAV, so a general FIR tool (ffmpeg's afir) can
// run the same filter for comparison.
//
//   make_impulse ir.wav gain
//
// 32-bit float stereo at 44100 Hz, 9526 frames: 1.0 at frame 0 (the dry sample) and gain * c[l] at frame
// d[l] for every tap, the same in both channels. A float FIR with this response computes
// x[n] + gain * sum c[l] x[n - d[l]], though with its own rounding, not the filter's.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "taps.h"
#include "wav_file.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_impulse ir.wav gain\n");
        return 2;
    }
    const auto gain = static_cast<float>(std::atof(argv[2]));
    std::vector<float> response(static_cast<std::size_t>(varno::MAX_DELAY) + 1, 0.0f);
    response[0] = 1.0f;
    for (std::size_t tap = 0; tap < varno::TAP_COUNT; ++tap) {
        response[static_cast<std::size_t>(varno::REFLECTION_DELAYS[tap])] = gain * varno::REFLECTION_COEFFICIENTS[tap];
    }
    const auto data_bytes = static_cast<std::uint32_t>(response.size() * 8);
    std::vector<std::uint8_t> wav;
    tools::put_stereo_header(wav, 3, 32, data_bytes);
    for (const float h : response) {
        for (int channel = 0; channel < 2; ++channel) tools::put_u32(wav, std::bit_cast<std::uint32_t>(h));
    }
    if (!tools::write_wav("make_impulse", argv[1], wav)) return 1;
    return 0;
}
