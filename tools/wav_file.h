// Writing a stereo 44100 Hz WAV with a canonical 44-byte header, for the project's signal generators.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace tools {

inline void put_u16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFFu));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFFu));
}

inline void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put_u16(out, v & 0xFFFFu);
    put_u16(out, v >> 16);
}

// The 44-byte header of stereo 44100 Hz data_bytes long: format 1 is integer PCM, 3 is IEEE float.
inline void put_stereo_header(std::vector<std::uint8_t>& wav, unsigned format, unsigned bits,
                              std::uint32_t data_bytes) {
    const unsigned frame_bytes = 2 * bits / 8;
    wav.insert(wav.end(), {'R', 'I', 'F', 'F'});
    put_u32(wav, 36u + data_bytes);
    wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put_u32(wav, 16);
    put_u16(wav, format);
    put_u16(wav, 2);
    put_u32(wav, 44100);
    put_u32(wav, 44100 * frame_bytes);
    put_u16(wav, frame_bytes);
    put_u16(wav, bits);
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    put_u32(wav, data_bytes);
}

// Writes the bytes to path; a message on standard error and false when that fails.
inline bool write_wav(const char* program, const char* path, const std::vector<std::uint8_t>& wav) {
    std::FILE* out = std::fopen(path, "wb");
    if (!out) {
        std::fprintf(stderr, "%s: cannot create %s\n", program, path);
        return false;
    }
    const bool written = std::fwrite(wav.data(), 1, wav.size(), out) == wav.size();
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "%s: cannot write %s\n", program, path);
        return false;
    }
    return true;
}

}  // namespace tools
