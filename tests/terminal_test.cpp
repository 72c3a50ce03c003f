// The commentary on an interactive terminal and redirected. Under a pseudo-terminal the input comes
// through a FIFO one block at a time, and each progress mark must show on the terminal, with its block
// already in the output file, before the next block is fed: a mark held back in a buffer would leave the
// test waiting. Redirected to a file or a pipe, the whole transcript must come out all the same.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdint>
#include <random>
#include <regex>
#include <string>

#include "run_program.h"
#include "transcript.h"

namespace {

using testing_support::BLOCK;
using testing_support::FOOTER;
using testing_support::HEADER;
using testing_support::mask_clock;
using testing_support::read_file;
using testing_support::write_file;

constexpr int BLOCKS = 61;  // one count line and a mark after it
constexpr auto PATIENCE = std::chrono::seconds(20);

std::string expected_transcript(const std::string& input) {
    return testing_support::opening(input, "out.wav") + "Header copied successfully\n" +
           std::string(60, '*') + "\r1\t*" + "\nFILE 0:33\n" + "\nTIME: #" + FOOTER;
}

std::string test_input() {
    std::mt19937 rng(17);
    std::string bytes(HEADER + BLOCKS * BLOCK + 999, '\0');
    for (char& b : bytes) b = static_cast<char>(rng() % 64);  // quiet noise
    return bytes;
}

off_t file_size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

class Terminal : public ::testing::Test {
protected:
    void SetUp() override { dir = testing_support::make_scratch_dir(); }
    void TearDown() override {
        if (master >= 0) close(master);
        if (child > 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }

    // Reads what the terminal shows until want_marks marks have arrived (or, with want_marks < 0, until
    // the program has closed the terminal). False when the time runs out first.
    bool read_terminal_until(int want_marks) {
        const auto deadline = std::chrono::steady_clock::now() + PATIENCE;
        while (want_marks < 0 || marks() < want_marks) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                   std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[4096];
            const ssize_t got = read(master, buffer, sizeof buffer);
            if (got > 0) {
                shown.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                return want_marks < 0;  // EIO: every copy of the terminal's other side is closed
            }
        }
        return true;
    }
    int marks() const { return static_cast<int>(std::count(shown.begin(), shown.end(), '*')); }

    std::string dir;
    std::string shown;
    int master = -1;
    pid_t child = -1;
};

TEST_F(Terminal, EachMarkShowsBeforeTheNextBlockIsFed) {
    std::signal(SIGPIPE, SIG_IGN);  // a program that quit early must fail the test, not kill it
    const std::string input = test_input();
    ASSERT_EQ(mkfifo(path("in.fifo").c_str(), 0644), 0);
    const std::string program = VARNO_EXECUTABLE;

    child = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Raw output, so the terminal shows the bytes the program wrote, line ends included.
        termios t{};
        tcgetattr(STDOUT_FILENO, &t);
        t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDOUT_FILENO, TCSANOW, &t);
        if (chdir(dir.c_str()) != 0) _exit(126);
        execl(program.c_str(), program.c_str(), "in.fifo", "out.wav", "0.5", static_cast<char*>(nullptr));
        _exit(127);
    }

    // Opening the FIFO waits for the program to open its end.
    const int feed = open(path("in.fifo").c_str(), O_WRONLY);
    ASSERT_GE(feed, 0);
    auto feed_bytes = [&](std::size_t from, std::size_t count) {
        for (std::size_t done = 0; done < count;) {
            const ssize_t put = write(feed, input.data() + from + done, count - done);
            ASSERT_GT(put, 0);
            done += static_cast<std::size_t>(put);
        }
    };

    feed_bytes(0, HEADER);
    for (int block = 1; block <= BLOCKS; ++block) {
        SCOPED_TRACE(block);
        ASSERT_EQ(marks(), block - 1);
        feed_bytes(HEADER + static_cast<std::size_t>(block - 1) * BLOCK, BLOCK);
        ASSERT_TRUE(read_terminal_until(block)) << "no mark for block " << block << " on the terminal:\n" << shown;
        EXPECT_EQ(file_size(path("out.wav")), static_cast<off_t>(HEADER + static_cast<std::size_t>(block) * BLOCK));
    }
    feed_bytes(HEADER + BLOCKS * BLOCK, input.size() - HEADER - BLOCKS * BLOCK);
    close(feed);

    ASSERT_TRUE(read_terminal_until(-1)) << shown;
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    child = -1;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(mask_clock(shown), expected_transcript("in.fifo"));
}

// Redirected to a file or a pipe, the transcript is complete and the same as on the terminal.
TEST_F(Terminal, RedirectedTranscriptIsComplete) {
    const std::string input = test_input();
    write_file(path("in.fifo"), input);  // a plain file of the same name, so the texts compare
    const std::string want = expected_transcript("in.fifo");

    const auto to_file = testing_support::run_program(VARNO_EXECUTABLE, {"in.fifo", "out.wav", "0.5"}, dir);
    EXPECT_EQ(to_file.exit_status, 0);
    EXPECT_EQ(to_file.err, "");
    EXPECT_EQ(mask_clock(to_file.out), want);

    // Through a pipe, read by a shell's cat into a file.
    const std::string command = "cd '" + dir + "' && '" + VARNO_EXECUTABLE + "' in.fifo out.wav 0.5 | cat > piped";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(mask_clock(read_file(path("piped"))), want);
}

}  // namespace
