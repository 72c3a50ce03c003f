// Fuzz target: the whole run on arbitrary file bytes and an arbitrary gain text.
//
// Input layout: byte 0 holds the gain text's length (low 5 bits) and a choice of piece sizes for the
// block filter (high 3 bits); then the gain text; then the bytes of the input file. The target writes the
// file, runs process_file on it, and checks what a user relies on:
//   - a gain beyond the float range is refused and no output exists;
//   - otherwise the output is the header record (the input's first 44 bytes, zero-filled when shorter)
//     and exactly the whole 96000-byte blocks, each sample what the sequential filter gives;
//   - gain 0 gives the whole blocks back unchanged;
//   - the block filter, fed the same samples in pieces of odd sizes, equals the sequential filter bit for
//     bit, also for gains the text cannot spell (infinities, NaN, subnormals) taken from raw bytes.
#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "reflection.h"
#include "wav.h"

namespace {

std::string scratch_dir;
std::string input_path;
std::string output_path;

std::vector<std::uint8_t> read_whole(const std::string& path, bool& exists) {
    std::vector<std::uint8_t> bytes;
    const int fd = open(path.c_str(), O_RDONLY);
    exists = fd >= 0;
    if (fd < 0) return bytes;
    std::uint8_t chunk[65536];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    close(fd);
    return bytes;
}

void write_whole(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) std::abort();
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = write(fd, data + done, size - done);
        if (put <= 0) std::abort();
        done += static_cast<std::size_t>(put);
    }
    close(fd);
}

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Piece sizes that cross the ring's wrap and the shortest delay (186) at odd places.
constexpr std::size_t PIECE_PATTERNS[8][4] = {
    {1, 1, 1, 1},     {7, 185, 186, 187}, {24000, 24000, 24000, 24000}, {1000, 3, 15999, 16001},
    {2, 8000, 5, 64}, {4095, 4097, 1, 2}, {31, 33, 63, 65},             {16000, 1, 16000, 7}};

// The sequential filter's output for x, one sample at a time.
void filter_sequentially(const std::vector<float>& x, float gain, std::vector<float>& y) {
    static varno::ChannelDelayLine line;
    varno::reset_delay_line(line);
    y.resize(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) y[i] = varno::filter_sample(line, x[i], gain);
}

// Feeds the block filter the same samples in pieces and demands the sequential filter's bits.
void check_block_filter(const std::vector<float>& x, const std::vector<float>& want, float gain, unsigned pattern) {
    static varno::ChannelDelayLine line;
    static std::vector<float> y;
    varno::reset_delay_line(line);
    y.resize(x.size());
    std::size_t done = 0;
    for (unsigned piece = 0; done < x.size(); piece = (piece + 1) % 4) {
        std::size_t size = PIECE_PATTERNS[pattern][piece];
        if (size > x.size() - done) size = x.size() - done;
        varno::filter_block(line, x.data() + done, y.data() + done, size, gain);
        done += size;
    }
    for (std::size_t i = 0; i < x.size(); ++i) {
        check(std::bit_cast<std::uint32_t>(want[i]) == std::bit_cast<std::uint32_t>(y[i]),
              "block filter differs from the sequential filter");
    }
}

}  // namespace

// Fresh heap memory filled with garbage (the run's buffers are under 1 MiB), so a header record that the
// run does not zero-fill shows.
extern "C" const char* __asan_default_options() { return "max_malloc_fill_size=1048576"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/varno-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    scratch_dir = pattern;
    input_path = scratch_dir + "/in.wav";
    output_path = scratch_dir + "/out.wav";
    // The run's commentary is not under test here; keep it off libFuzzer's console.
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) dup2(null_fd, STDOUT_FILENO);
    std::atexit([] {
        unlink(input_path.c_str());
        unlink(output_path.c_str());
        rmdir(scratch_dir.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t text_length = std::min<std::size_t>(data[0] & 0x1Fu, size - 1);
    const unsigned pattern = data[0] >> 5;
    const std::string gain_text(reinterpret_cast<const char*>(data + 1), text_length);
    const std::uint8_t* file = data + 1 + text_length;
    const std::size_t file_size = size - 1 - text_length;

    write_whole(input_path, file, file_size);
    unlink(output_path.c_str());
    const varno::GainReading gain = varno::read_gain(gain_text.c_str());
    const varno::RunOutcome outcome = varno::process_file(input_path.c_str(), output_path.c_str(), gain_text.c_str());
    std::fflush(stdout);

    bool exists = false;
    const std::vector<std::uint8_t> out = read_whole(output_path, exists);
    if (!gain.in_range) {
        check(outcome == varno::RunOutcome::failed, "a gain beyond the float range was not refused");
        check(!exists, "a refused run left an output file");
        return 0;
    }
    check(outcome == varno::RunOutcome::finished, "a run on a readable file failed");
    check(exists, "no output file");

    const std::size_t data_bytes = file_size > varno::HEADER_BYTES ? file_size - varno::HEADER_BYTES : 0;
    const std::size_t blocks = data_bytes / varno::BLOCK_BYTES;
    check(out.size() == varno::HEADER_BYTES + blocks * varno::BLOCK_BYTES, "output size");
    for (std::size_t i = 0; i < varno::HEADER_BYTES; ++i) {
        const std::uint8_t want = i < file_size ? file[i] : 0;
        check(out[i] == want, "header record");
    }

    const std::uint8_t* in_data = file + varno::HEADER_BYTES;
    const std::uint8_t* out_data = out.data() + varno::HEADER_BYTES;
    const std::size_t whole = blocks * varno::BLOCK_BYTES;
    if (gain.gain == 0.0f) check(std::memcmp(in_data, out_data, whole) == 0, "gain 0 changed the audio");

    // Every output sample is the sequential filter's value for its channel, and the block filter agrees
    // with it over all the frames, the part-block's too.
    const std::size_t frames = data_bytes / varno::BYTES_PER_FRAME;
    std::vector<float> x;
    std::vector<float> y;
    for (int channel = 0; channel < 2; ++channel) {
        x.resize(frames);
        for (std::size_t k = 0; k < frames; ++k) {
            const std::uint8_t* s = in_data + k * varno::BYTES_PER_FRAME + 2 * static_cast<std::size_t>(channel);
            x[k] = varno::decode_sample(s[0], s[1]);
        }
        filter_sequentially(x, gain.gain, y);
        for (std::size_t k = 0; k < whole / varno::BYTES_PER_FRAME; ++k) {
            std::uint8_t want[2];
            varno::store_sample(want, varno::encode_sample(y[k]));
            const std::uint8_t* got = out_data + k * varno::BYTES_PER_FRAME + 2 * static_cast<std::size_t>(channel);
            check(got[0] == want[0] && got[1] == want[1], "output sample differs from the sequential filter");
        }
        check_block_filter(x, y, gain.gain, pattern);
    }

    // Gains no text gives (infinities, NaN, subnormals): the header's first four bytes as a float's bits,
    // on a shorter stretch of the left channel.
    if (file_size >= 4) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, file, 4);
        const float raw_gain = std::bit_cast<float>(bits);
        x.resize(std::min<std::size_t>(frames, 4000));
        for (std::size_t k = 0; k < x.size(); ++k) x[k] = varno::decode_sample(in_data[4 * k], in_data[4 * k + 1]);
        filter_sequentially(x, raw_gain, y);
        check_block_filter(x, y, raw_gain, pattern);
    }
    return 0;
}
