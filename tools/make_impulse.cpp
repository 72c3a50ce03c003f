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

namespace {

void put_u16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFFu));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFFu));
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put_u16(out, v & 0xFFFFu);
    put_u16(out, v >> 16);
}

}  // namespace

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
    wav.insert(wav.end(), {'R', 'I', 'F', 'F'});
    put_u32(wav, 36u + data_bytes);
    wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put_u32(wav, 16);
    put_u16(wav, 3);  // IEEE float
    put_u16(wav, 2);
    put_u32(wav, 44100);
    put_u32(wav, 44100 * 8);
    put_u16(wav, 8);
    put_u16(wav, 32);
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    put_u32(wav, data_bytes);
    for (const float h : response) {
        for (int channel = 0; channel < 2; ++channel) put_u32(wav, std::bit_cast<std::uint32_t>(h));
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::fprintf(stderr, "make_impulse: cannot create %s\n", argv[1]);
        return 1;
    }
    const bool written = std::fwrite(wav.data(), 1, wav.size(), out) == wav.size();
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "make_impulse: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
