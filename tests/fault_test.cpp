// The varno program against the faults a user meets: the same file named twice, inputs that cannot be
// read, outputs that cannot be created or written (a full device, a full disk), gains that are not
// numbers or are out of range, inputs shorter than a header or with a longer header, and too few or
// too many arguments. Each case runs the built program in a scratch folder and checks the exit status,
// that nothing reaches standard error, the commentary around the failure line, and what became of the
// files.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app.h"
#include "oracle.h"
#include "reflection.h"
#include "run_program.h"
#include "transcript.h"

extern char** environ;

namespace {

using testing_support::BLOCK;
using testing_support::FOOTER;
using testing_support::HEADER;
using testing_support::mask_clock;
using testing_support::opening;
using testing_support::sample_at;
using testing_support::file_exists;
using testing_support::ProgramResult;
using testing_support::read_file;
using testing_support::run_program;
using testing_support::write_file;



std::string random_bytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (char& b : bytes) b = static_cast<char>(rng());
    return bytes;
}

// The output of a run with gain 0: the header (zero-filled when short) and the whole blocks unchanged.
std::string identity_output(const std::string& input) {
    std::string header = input.substr(0, std::min(input.size(), HEADER));
    header.resize(HEADER, '\0');
    const std::size_t data = input.size() > HEADER ? input.size() - HEADER : 0;
    return header + input.substr(HEADER < input.size() ? HEADER : input.size(), data / BLOCK * BLOCK);
}

// The processed data that the literal oracle gives for whole blocks of data, as 16-bit samples.
void expect_oracle_output(const std::string& data, const std::string& out_data, float gain) {
    const std::size_t frames = data.size() / BLOCK * BLOCK / 4;
    ASSERT_EQ(out_data.size(), frames * 4);
    for (int channel = 0; channel < 2; ++channel) {
        std::vector<float> x(frames);
        for (std::size_t k = 0; k < frames; ++k) x[k] = static_cast<float>(sample_at(data, k, channel)) / 32768.0f;
        const std::vector<float> y =
            oracle::filter_signal(x, gain, varno::REFLECTION_DELAYS, varno::REFLECTION_COEFFICIENTS, varno::LIMIT_VALUE);
        for (std::size_t k = 0; k < frames; ++k) {
            long v = static_cast<long>(static_cast<double>(y[k]) * 32768.0);  // truncates toward zero
            if (v == 32768) v = 32767;
            ASSERT_EQ(sample_at(out_data, k, channel), v) << "channel " << channel << " frame " << k;
        }
    }
}

// A failed or refused run: exit status 1, nothing on standard error, the usual opening, then what came
// before the failure, then one line naming the file, then the footer, and no summary.
void expect_failure(const ProgramResult& r, const std::string& input, const std::string& output,
                    const std::string& before_line, const std::string& named) {
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "");
    const std::string t = mask_clock(r.out);
    const std::string head = opening(input, output) + before_line;
    ASSERT_EQ(t.substr(0, head.size()), head) << t;
    ASSERT_GE(t.size(), head.size() + FOOTER.size()) << t;
    EXPECT_EQ(t.substr(t.size() - FOOTER.size()), FOOTER) << t;
    const std::string line = t.substr(head.size(), t.size() - head.size() - FOOTER.size());
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << '"' << line << '"';
    EXPECT_TRUE(!line.empty() && line.back() == '\n') << '"' << line << '"';
    EXPECT_NE(line.find(named), std::string::npos) << '"' << line << '"';
    EXPECT_EQ(t.find("\nFILE "), std::string::npos) << t;
    EXPECT_EQ(t.find("TIME:"), std::string::npos) << t;
}

std::set<std::string> list_dir(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

class FaultRun : public ::testing::Test {
protected:
    void SetUp() override {
        dir = testing_support::make_scratch_dir();
        // The program's fresh heap memory then holds garbage instead of the zeros new pages bring, so a
        // header record that is not zero-filled by the program shows.
        setenv("MALLOC_PERTURB_", "165", 1);
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    ProgramResult varno(const std::vector<std::string>& args) { return run_program(VARNO_EXECUTABLE, args, dir); }
    std::string path(const std::string& name) const { return dir + "/" + name; }

    // A canonical-looking input of two whole blocks and a part-block.
    std::string make_input(const std::string& name = "in.wav") {
        const std::string input = random_bytes(HEADER + 2 * BLOCK + 777, 42);
        write_file(path(name), input);
        return input;
    }

    std::string dir;
};

// Any second name of the input as output is refused before the input is touched.
TEST_F(FaultRun, SameFileAsInputAndOutputIsRefused) {
    struct Case {
        const char* input;
        const char* output;
    };
    const Case cases[] = {
        {"in.wav", "in.wav"},         {"in.wav", "./in.wav"},      {"./in.wav", "in.wav"},
        {"in.wav", "sub/../in.wav"},  {"in.wav", "link.wav"},      {"link.wav", "in.wav"},
        {"in.wav", "hard.wav"},       {"hard.wav", "link.wav"},    {"in.wav", "sub/uplink.wav"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.input) + " -> " + c.output);
        const std::string input = make_input();
        mkdir(path("sub").c_str(), 0755);
        unlink(path("link.wav").c_str());
        unlink(path("hard.wav").c_str());
        unlink(path("sub/uplink.wav").c_str());
        ASSERT_EQ(symlink("in.wav", path("link.wav").c_str()), 0);
        ASSERT_EQ(link(path("in.wav").c_str(), path("hard.wav").c_str()), 0);
        ASSERT_EQ(symlink("../in.wav", path("sub/uplink.wav").c_str()), 0);
        const auto result = varno({c.input, c.output, "0.5"});
        expect_failure(result, c.input, c.output, "", c.output);
        EXPECT_EQ(read_file(path("in.wav")), input);
    }
    // The absolute path too.
    const std::string input = make_input();
    const std::string absolute = path("in.wav");
    expect_failure(varno({"in.wav", absolute, "2"}), "in.wav", absolute, "", absolute);
    EXPECT_EQ(read_file(path("in.wav")), input);
}

// An input that cannot be opened or read is refused before the output is created or emptied.
TEST_F(FaultRun, UnreadableInputLeavesTheOutputAlone) {
    mkdir(path("adir").c_str(), 0755);
    const char* inputs[] = {"missing.wav", "nodir/missing.wav", "", "adir", "adir/"};
    for (const char* in : inputs) {
        SCOPED_TRACE(std::string("input \"") + in + "\"");
        write_file(path("out.wav"), "an earlier output worth keeping");
        expect_failure(varno({in, "out.wav", "1"}), in, "out.wav", "", in);
        EXPECT_EQ(read_file(path("out.wav")), "an earlier output worth keeping");

        unlink(path("out.wav").c_str());
        expect_failure(varno({in, "out.wav", "1"}), in, "out.wav", "", in);
        EXPECT_FALSE(file_exists(path("out.wav")));
    }
}

TEST_F(FaultRun, OutputThatCannotBeCreated) {
    mkdir(path("adir").c_str(), 0755);
    const char* outputs[] = {"nodir/out.wav", "adir", "adir/", "", "in.wav/out.wav"};
    for (const char* out : outputs) {
        SCOPED_TRACE(std::string("output \"") + out + "\"");
        const std::string input = make_input();
        expect_failure(varno({"in.wav", out, "1"}), "in.wav", out, "", out);
        EXPECT_EQ(read_file(path("in.wav")), input);
        EXPECT_FALSE(file_exists(path("nodir")));
    }
}

// A device that takes no bytes: the header write fails, and that is never reported as success.
TEST_F(FaultRun, OutputOnAFullDevice) {
    if (!file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string input = make_input();
    expect_failure(varno({"in.wav", "/dev/full", "1"}), "in.wav", "/dev/full", "", "/dev/full");
    EXPECT_EQ(read_file(path("in.wav")), input);
}

// Output on a small file system of its own, full before the run or filling up during it.
class SmallDisk : public FaultRun {
protected:
    void mount_disk(const std::string& size) {
        disk = path("disk");
        ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
        if (mount("tmpfs", disk.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) {
            disk.clear();
            GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
        }
    }
    void TearDown() override {
        if (!disk.empty()) umount(disk.c_str());
        FaultRun::TearDown();
    }
    // Writes a filler file until the disk takes no more.
    void fill_disk() {
        const int fd = open((disk + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        const std::string chunk(4096, 'f');
        while (write(fd, chunk.data(), chunk.size()) > 0) {
        }
        close(fd);
    }
    std::string disk;
};

TEST_F(SmallDisk, HeaderWriteFails) {
    mount_disk("64k");
    if (disk.empty()) return;
    fill_disk();
    const std::string input = make_input();
    expect_failure(varno({"in.wav", "disk/out.wav", "1"}), "in.wav", "disk/out.wav", "", "disk/out.wav");
    EXPECT_EQ(read_file(path("in.wav")), input);
}

TEST_F(SmallDisk, FirstBlockWriteFails) {
    mount_disk("64k");  // the header fits, the first block does not
    if (disk.empty()) return;
    const std::string input = make_input();
    expect_failure(varno({"in.wav", "disk/out.wav", "1"}), "in.wav", "disk/out.wav", "Header copied successfully\n",
                   "disk/out.wav");
    EXPECT_EQ(read_file(path("disk/out.wav")).substr(0, HEADER), input.substr(0, HEADER));
    EXPECT_EQ(read_file(path("in.wav")), input);
}

TEST_F(SmallDisk, LaterBlockWriteFails) {
    mount_disk("256k");  // the header and two blocks fit, the third does not
    if (disk.empty()) return;
    const std::string input = random_bytes(HEADER + 4 * BLOCK, 7);
    write_file(path("in.wav"), input);
    expect_failure(varno({"in.wav", "disk/out.wav", "1"}), "in.wav", "disk/out.wav",
                   "Header copied successfully\n**\n", "disk/out.wav");
    EXPECT_EQ(read_file(path("disk/out.wav")).substr(0, HEADER), input.substr(0, HEADER));
}

// Standard output that takes no text: the run's own files are right, but the exit status says that the
// commentary was lost, and no signal ends the process.
TEST_F(FaultRun, CommentaryThatCannotBeWritten) {
    const std::string input = make_input();
    struct Case {
        const char* name;
        bool closed_pipe;
    };
    for (const Case c : {Case{"/dev/full", false}, Case{"a pipe with no reader", true}}) {
        SCOPED_TRACE(c.name);
        if (!c.closed_pipe && !file_exists("/dev/full")) continue;
        unlink(path("out.wav").c_str());
        int target = -1;
        int pipe_fds[2] = {-1, -1};
        if (c.closed_pipe) {
            ASSERT_EQ(pipe(pipe_fds), 0);
            close(pipe_fds[0]);
            target = pipe_fds[1];
        } else {
            target = open("/dev/full", O_WRONLY);
        }
        ASSERT_GE(target, 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, target, STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, path("stderr").c_str(), O_WRONLY | O_CREAT, 0644);
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
        std::string program = VARNO_EXECUTABLE;
        std::string a1 = "in.wav", a2 = "out.wav", a3 = "0";
        char* argv[] = {program.data(), a1.data(), a2.data(), a3.data(), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(target);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_EQ(read_file(path("stderr")), "");
        EXPECT_EQ(read_file(path("out.wav")), identity_output(input));
    }
}

// An output that is not a regular file is written as it is, never truncated or refused: a device that
// takes everything, and a FIFO with a reader.
TEST_F(FaultRun, OutputThatIsNotARegularFile) {
    const std::string input = make_input();
    const auto to_null = varno({"in.wav", "/dev/null", "0"});
    EXPECT_EQ(to_null.exit_status, 0);
    EXPECT_EQ(to_null.err, "");
    EXPECT_EQ(mask_clock(to_null.out), opening("in.wav", "/dev/null") + "Header copied successfully\n**\nFILE 0:01\n" +
                                           "\nTIME: #" + FOOTER);

    ASSERT_EQ(mkfifo(path("out.fifo").c_str(), 0644), 0);
    const std::string command = "cd '" + dir + "' && { cat out.fifo > copy.wav & '" + VARNO_EXECUTABLE +
                                "' in.wav out.fifo 0 > transcript 2>&1; status=$?; wait; exit $status; }";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(read_file(path("copy.wav")), identity_output(input));
}

// Words that spell an infinity or a not-a-number are no decimal number: gain 0, the data comes back.
TEST_F(FaultRun, NonFiniteGainWordsReadAsZero) {
    const std::string input = make_input();
    for (const char* gain : {"inf", "nan", "-inf", "infinity", "+Infinity", "INF", "-NaN", "nan(1)", " inf"}) {
        SCOPED_TRACE(gain);
        const auto result = varno({"in.wav", "out.wav", gain});
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(read_file(path("out.wav")), identity_output(input));
        EXPECT_NE(result.out.find("**\nFILE 0:01\n"), std::string::npos);
    }
}

// A number beyond the float range is refused before any file is created or emptied.
TEST_F(FaultRun, GainBeyondTheFloatRangeIsRefused) {
    const std::string input = make_input();
    for (const char* gain : {"1e39", "-1e400", "3.5e38", "-340282357000000000000000000000000000000", "1e99999"}) {
        SCOPED_TRACE(gain);
        unlink(path("out.wav").c_str());
        expect_failure(varno({"in.wav", "out.wav", gain}), "in.wav", "out.wav", "", gain);
        EXPECT_FALSE(file_exists(path("out.wav")));

        write_file(path("out.wav"), "kept");
        expect_failure(varno({"in.wav", "out.wav", gain}), "in.wav", "out.wav", "", gain);
        EXPECT_EQ(read_file(path("out.wav")), "kept");
        EXPECT_EQ(read_file(path("in.wav")), input);
    }
}

// Finite gains of any size run to the end; their output is the limited arithmetic, sample for sample.
TEST_F(FaultRun, HugeFiniteGainsRun) {
    const std::string input = random_bytes(HEADER + BLOCK + 100, 9);
    write_file(path("in.wav"), input);
    for (const char* gain : {"3e38", "-3.4028234e38", "1e30"}) {
        SCOPED_TRACE(gain);
        const auto result = varno({"in.wav", "out.wav", gain});
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_NE(result.out.find("Header copied successfully\n*\nFILE 0:00\n"), std::string::npos);
        const std::string out = read_file(path("out.wav"));
        ASSERT_EQ(out.size(), HEADER + BLOCK);
        EXPECT_EQ(out.substr(0, HEADER), input.substr(0, HEADER));
        expect_oracle_output(input.substr(HEADER, BLOCK), out.substr(HEADER), static_cast<float>(std::stod(gain)));
    }
}

// Inputs too short for a header: the bytes that are there lead the header record, zeros fill it, and the
// run reports zero blocks.
TEST_F(FaultRun, InputsShorterThanABlock) {
    for (const std::size_t size : {0, 1, 43, 44, 45, 4000}) {
        SCOPED_TRACE(size);
        const std::string input = random_bytes(size, static_cast<std::uint32_t>(size) + 1);
        write_file(path("in.wav"), input);
        const auto result = varno({"in.wav", "out.wav", "1"});
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(mask_clock(result.out),
                  opening("in.wav", "out.wav") + "Header copied successfully\n" + "\nFILE 0:00\n" + "\nTIME: #" + FOOTER);
        EXPECT_EQ(read_file(path("out.wav")), identity_output(input));
    }
}

// A header with a chunk between "fmt " and "data" is still taken as 44 bytes; the chunk's tail and the
// data chunk's own header are filtered as audio.
TEST_F(FaultRun, HeaderWithExtraChunks) {
    const std::string list_payload("INFOISFT\x10\0\0\0varno fault test", 28);
    const std::uint32_t data_bytes = 2 * BLOCK;
    std::string input = testing_support::wav_header(
        data_bytes, "LIST" + testing_support::le32(static_cast<std::uint32_t>(list_payload.size())) + list_payload);
    input += random_bytes(data_bytes, 77);
    ASSERT_GT(input.find("data"), HEADER);
    write_file(path("in.wav"), input);

    // The header really is 80 bytes: two blocks of data begin 36 bytes after the 44th byte, and their last
    // 36 bytes make the dropped part-block.
    ASSERT_EQ(input.size(), 80 + 2 * BLOCK);
    ASSERT_EQ(varno({"in.wav", "zero.wav", "0"}).exit_status, 0);
    EXPECT_EQ(read_file(path("zero.wav")), input.substr(0, HEADER + 2 * BLOCK));

    ASSERT_EQ(varno({"in.wav", "out.wav", "0.7"}).exit_status, 0);
    const std::string out = read_file(path("out.wav"));
    ASSERT_EQ(out.size(), HEADER + 2 * BLOCK);
    EXPECT_EQ(out.substr(0, HEADER), input.substr(0, HEADER));
    expect_oracle_output(input.substr(HEADER, 2 * BLOCK), out.substr(HEADER), 0.7f);
    EXPECT_NE(out.substr(HEADER), input.substr(HEADER, 2 * BLOCK));
}

// Too few arguments: the message and the footer, exit status 2, and no file is made, opened for writing
// or changed, even when the files the arguments name exist.
TEST_F(FaultRun, TooFewArgumentsMakeNoFile) {
    const std::string input = make_input();
    write_file(path("out.wav"), "kept");
    const std::set<std::string> before = list_dir(dir);
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"in.wav"}, {"in.wav", "out.wav"},
                                                 {"in.wav", "new.wav"}, {"0.5"}, {"in.wav", "0.5"}}) {
        SCOPED_TRACE(args.size());
        const auto result = varno(args);
        EXPECT_EQ(result.exit_status, 2);
        EXPECT_EQ(result.out, "You have given too few arguments\n" + FOOTER);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(list_dir(dir), before);
        EXPECT_EQ(read_file(path("out.wav")), "kept");
        EXPECT_EQ(read_file(path("in.wav")), input);
    }
}

// Arguments after the third change nothing, not even when they name files or gains.
TEST_F(FaultRun, FurtherArgumentsAreIgnored) {
    const std::string input = make_input();
    write_file(path("other.wav"), "other");
    ASSERT_EQ(varno({"in.wav", "plain.wav", "0.5"}).exit_status, 0);
    const std::string plain = read_file(path("plain.wav"));
    const std::vector<std::vector<std::string>> extras = {
        {"other.wav"}, {"in.wav"}, {"1e39"}, {"other.wav", "in.wav", "0"}, {""}};
    for (const std::vector<std::string>& extra : extras) {
        SCOPED_TRACE(extra.front());
        std::vector<std::string> args = {"in.wav", "out.wav", "0.5"};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto result = varno(args);
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(read_file(path("out.wav")), plain);
        EXPECT_EQ(read_file(path("other.wav")), "other");
        EXPECT_EQ(read_file(path("in.wav")), input);
        EXPECT_EQ(mask_clock(result.out), opening("in.wav", "out.wav") + "Header copied successfully\n**\nFILE 0:01\n" +
                                              "\nTIME: #" + FOOTER);
    }
}

}  // namespace

namespace {

// Commentary lost to a failed write earlier in the process is not a clean finish, even when standard
// output takes text again by the end (a disk that filled up and was freed): the stream keeps its error.
TEST(CommentaryLoss, EarlierFailedWriteFailsTheRun) {
    if (!file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string dir = testing_support::make_scratch_dir();
    write_file(dir + "/in.wav", random_bytes(HEADER + BLOCK, 3));
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int full = open("/dev/full", O_WRONLY);
    dup2(full, STDOUT_FILENO);
    std::printf("lost\n");
    std::fflush(stdout);
    const int sink = open((dir + "/transcript").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(sink, STDOUT_FILENO);
    std::string a0 = "varno", a1 = dir + "/in.wav", a2 = dir + "/out.wav", a3 = "0.5";
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
    const int status = varno::run_command_line(4, argv);
    std::fflush(stdout);
    std::clearerr(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(full);
    close(sink);
    EXPECT_EQ(status, varno::EXIT_FAILED);
    EXPECT_EQ(read_file(dir + "/out.wav").size(), HEADER + BLOCK);
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace

namespace {

// Faults no ordinary file shows on demand, made by a preloaded library: a read error part way through
// the input, and a failed close of the output (as a network file system reports a lost write).
class InjectedFault : public FaultRun {
protected:
    ProgramResult varno_with(const std::vector<std::pair<std::string, std::string>>& faults,
                             const std::vector<std::string>& args) {
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string saved_asan = asan != nullptr ? asan : "";
        // A sanitized program insists on its runtime coming first; the preloaded library comes first.
        setenv("ASAN_OPTIONS", (saved_asan + (saved_asan.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(), 1);
        setenv("LD_PRELOAD", VARNO_FAULT_INJECT, 1);
        for (const auto& [name, value] : faults) setenv(name.c_str(), value.c_str(), 1);
        ProgramResult result = varno(args);
        for (const auto& fault : faults) unsetenv(fault.first.c_str());
        unsetenv("LD_PRELOAD");
        if (asan != nullptr) setenv("ASAN_OPTIONS", saved_asan.c_str(), 1);
        else unsetenv("ASAN_OPTIONS");
        return result;
    }
};

TEST_F(InjectedFault, ReadErrors) {
    const std::string input = random_bytes(HEADER + 4 * BLOCK + 10, 21);
    struct Case {
        std::size_t fail_at;   // input offset whose read fails
        std::size_t blocks;    // blocks written before it
    };
    const Case cases[] = {{0, 0}, {10, 0}, {HEADER, 0}, {HEADER + 1, 0}, {HEADER + 2 * BLOCK, 2},
                          {HEADER + 2 * BLOCK + 500, 2}, {HEADER + 4 * BLOCK, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fail_at);
        write_file(path("in.wav"), input);
        write_file(path("out.wav"), "kept");
        const auto result = varno_with({{"VARNO_FAIL_READ_PATH", path("in.wav")},
                                        {"VARNO_FAIL_READ_AT", std::to_string(c.fail_at)}},
                                       {"in.wav", "out.wav", "0"});
        if (c.fail_at < HEADER) {
            // The header record is not whole, so the output has not been touched.
            expect_failure(result, "in.wav", "out.wav", "", "in.wav");
            EXPECT_EQ(read_file(path("out.wav")), "kept");
        } else {
            const std::string marks(c.blocks, '*');
            expect_failure(result, "in.wav", "out.wav", "Header copied successfully\n" + marks + (c.blocks ? "\n" : ""),
                           "in.wav");
            EXPECT_EQ(read_file(path("out.wav")), input.substr(0, HEADER + c.blocks * BLOCK));
        }
        EXPECT_EQ(read_file(path("in.wav")), input);
    }
    // The library itself changes nothing when no fault is asked for.
    const auto plain = varno_with({}, {"in.wav", "out.wav", "0"});
    EXPECT_EQ(plain.exit_status, 0);
    EXPECT_EQ(read_file(path("out.wav")), input.substr(0, HEADER + 4 * BLOCK));
}

TEST_F(InjectedFault, FailedCloseOfTheOutput) {
    const std::string input = make_input();
    const auto result = varno_with({{"VARNO_FAIL_CLOSE_PATH", path("out.wav")}}, {"in.wav", "out.wav", "0.5"});
    expect_failure(result, "in.wav", "out.wav", "Header copied successfully\n**\n", "out.wav");
    EXPECT_EQ(read_file(path("in.wav")), input);
}

}  // namespace
