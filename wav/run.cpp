// process_file: one run from input file to output file.
//
//   input --header--> output (44 bytes, unchanged)
//   input --96000-byte block--> decode --> left/right reflection filters --> encode --> output
//
// Files are plain descriptors read and written in whole records. The input is opened, and its header
// read, before the output is touched, so a mistyped or unreadable input never truncates an existing
// output. The output is opened without truncation first and compared with the input by device and inode,
// so naming the same file twice (by any path or link) is refused before a byte of it changes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "reflection.h"
#include "wav.h"

namespace varno {
namespace {

struct RunBuffers {
    ChannelDelayLine lines[2];  // 0 left, 1 right
    std::uint8_t header[HEADER_BYTES];
    std::uint8_t input_block[BLOCK_BYTES];
    std::uint8_t output_block[BLOCK_BYTES];
    float samples_in[2][FRAMES_PER_BLOCK];
    float samples_out[2][FRAMES_PER_BLOCK];
};

struct ReadResult {
    std::size_t bytes;
    bool failed;  // a read error other than end of file
};

// Reads up to size bytes, going on after short reads (pipes, FIFOs) until the record is whole or the
// file ends.
ReadResult read_record(int fd, std::uint8_t* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = read(fd, buffer + done, size - done);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            return {done, true};
        }
        done += static_cast<std::size_t>(got);
    }
    return {done, false};
}

// Writes the whole record or reports failure; a write that falls short (a full disk) is a failure.
bool write_record(int fd, const std::uint8_t* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = write(fd, buffer + done, size - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (put == 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// Decoding and encoding are a small share of a block's work only if they are vectorised as well as the
// filter, so they are built once per CPU level (VARNO_CPU_CLONES).

VARNO_CPU_CLONES void decode_block(const std::uint8_t* bytes, float* left, float* right) {
    for (std::size_t k = 0; k < FRAMES_PER_BLOCK; ++k) {
        const std::uint8_t* frame = bytes + k * BYTES_PER_FRAME;
        left[k] = decode_sample(frame[0], frame[1]);
        right[k] = decode_sample(frame[2], frame[3]);
    }
}

VARNO_CPU_CLONES void encode_block(const float* left, const float* right, std::uint8_t* bytes) {
    for (std::size_t k = 0; k < FRAMES_PER_BLOCK; ++k) {
        std::uint8_t* frame = bytes + k * BYTES_PER_FRAME;
        store_sample(frame, encode_sample(left[k]));
        store_sample(frame + 2, encode_sample(right[k]));
    }
}

void filter_block_bytes(RunBuffers& run, float gain) {
    decode_block(run.input_block, run.samples_in[0], run.samples_in[1]);
    // The channels never exchange data, so filtering all of one and then the other gives the same
    // samples as alternating left and right frame by frame.
    for (int channel = 0; channel < 2; ++channel) {
        filter_block(run.lines[channel], run.samples_in[channel], run.samples_out[channel], FRAMES_PER_BLOCK,
                     gain);
    }
    encode_block(run.samples_out[0], run.samples_out[1], run.output_block);
}

// A failure line ends the marks line first, if marks were printed.
void print_failure(std::int64_t block_count, const char* what, const char* path) {
    print_text("%s%s %s\n", block_count > 0 ? "\n" : "", what, path);
}

void close_quietly(int fd) {
    if (fd >= 0) close(fd);
}

}  // namespace

RunOutcome process_file(const char* input_path, const char* output_path, const char* gain_text) {
    const GainReading gain = read_gain(gain_text);

    // One allocation per run; nothing is allocated per block or per sample.
    std::unique_ptr<RunBuffers> run(new (std::nothrow) RunBuffers);
    if (!run) {
        print_text("Cannot set up the run's buffers\n");
        return RunOutcome::failed;
    }
    reset_delay_line(run->lines[0]);
    reset_delay_line(run->lines[1]);

    print_banner();
    print_text("process : WAV = %s  -> %s\n--------------------------------------------------\n\n", input_path,
               output_path);
    const std::int64_t start_time = print_start_time();
    print_text("Start loading\n");

    if (!gain.in_range) {
        print_failure(0, "Gain beyond the range of a 32-bit float:", gain_text);
        return RunOutcome::failed;
    }

    const int input = open(input_path, O_RDONLY | O_CLOEXEC);
    if (input < 0) {
        print_failure(0, "Cannot open input file", input_path);
        return RunOutcome::failed;
    }
    // An input shorter than the header leaves the rest of the header record zero.
    std::memset(run->header, 0, sizeof run->header);
    if (read_record(input, run->header, HEADER_BYTES).failed) {
        print_failure(0, "Cannot read input file", input_path);
        close_quietly(input);
        return RunOutcome::failed;
    }

    const int output = open(output_path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (output < 0) {
        print_failure(0, "Cannot create output file", output_path);
        close_quietly(input);
        return RunOutcome::failed;
    }
    struct stat input_status {};
    struct stat output_status {};
    if (fstat(input, &input_status) != 0 || fstat(output, &output_status) != 0) {
        print_failure(0, "Cannot create output file", output_path);
        close_quietly(output);
        close_quietly(input);
        return RunOutcome::failed;
    }
    if (input_status.st_dev == output_status.st_dev && input_status.st_ino == output_status.st_ino) {
        print_failure(0, "Output file is the input file:", output_path);
        close_quietly(output);
        close_quietly(input);
        return RunOutcome::failed;
    }
    // Only now, with the input known to be another file, is an existing output emptied.
    if (S_ISREG(output_status.st_mode) && ftruncate(output, 0) != 0) {
        print_failure(0, "Cannot create output file", output_path);
        close_quietly(output);
        close_quietly(input);
        return RunOutcome::failed;
    }

    if (!write_record(output, run->header, HEADER_BYTES)) {
        print_failure(0, "Cannot write output file", output_path);
        close_quietly(output);
        close_quietly(input);
        return RunOutcome::failed;
    }
    print_text("Header copied successfully\n");

    std::int64_t block_count = 0;
    for (;;) {
        const ReadResult got = read_record(input, run->input_block, BLOCK_BYTES);
        if (got.failed) {
            print_failure(block_count, "Cannot read input file", input_path);
            close_quietly(output);
            close_quietly(input);
            return RunOutcome::failed;
        }
        if (got.bytes < BLOCK_BYTES) break;  // a trailing part-block is dropped
        filter_block_bytes(*run, gain.gain);
        if (!write_record(output, run->output_block, BLOCK_BYTES)) {
            print_failure(block_count, "Cannot write output file", output_path);
            close_quietly(output);
            close_quietly(input);
            return RunOutcome::failed;
        }
        ++block_count;
        print_progress_mark(block_count);
    }

    if (close(output) != 0) {
        print_failure(block_count, "Cannot close output file", output_path);
        close_quietly(input);
        return RunOutcome::failed;
    }
    print_summary(block_count, start_time);
    close(input);
    return RunOutcome::finished;
}

}  // namespace varno
