// The run's commentary: title block, start time, progress marks and the closing summary.
//
// Everything goes to standard output. On a terminal each text is flushed as soon as it is printed, so a
// progress mark shows when its block has been written; redirected output keeps the stream's full
// buffering.
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "wav.h"

namespace varno {
namespace {

bool stdout_is_terminal() {
    static const bool terminal = isatty(STDOUT_FILENO) == 1;
    return terminal;
}

}  // namespace

void print_text(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    if (stdout_is_terminal()) std::fflush(stdout);
}

void print_banner() {
    print_text("\n\n\n%25sVARNO version 5.1 \n\n", "");
}

std::int64_t print_start_time() {
    const auto start = static_cast<std::int64_t>(std::time(nullptr));
    print_text("Time %lld\n", static_cast<long long>(start));
    return start;
}

void print_progress_mark(std::int64_t block_count) {
    if (block_count % MARKS_PER_COUNT == 0) {
        print_text("*\r%lld\t", static_cast<long long>(block_count / MARKS_PER_COUNT));
    } else {
        print_text("*");
    }
}

void print_summary(std::int64_t block_count, std::int64_t start_time) {
    const std::int64_t seconds = audio_duration_seconds(block_count);
    print_text("\nFILE %lld:%02lld\n", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
    const std::int64_t elapsed = static_cast<std::int64_t>(std::time(nullptr)) - start_time;
    print_text("\nTIME: %lld:%02lld", static_cast<long long>(elapsed / 60), static_cast<long long>(elapsed % 60));
}

}  // namespace varno
