// Entry point logic and the front end's own texts.
#include "app.h"

#include <csignal>
#include <cstdio>

#include "wav.h"

namespace varno {

void print_description() {
    print_text("\n\nVARNO is a tool influencing the timbre of sound \n");
    print_text("and subjective quality of the musical recording\n");
    print_text("- performing reconstruction of acoustics in the ancient theatre\n");
    print_text("  according to Quendaris' De Architectura\n\n");
}

int run_command_line(int argc, char** argv) {
    // A closed pipe as output then fails its write with EPIPE, which the run reports, instead of
    // killing the process silently.
    std::signal(SIGPIPE, SIG_IGN);

    int status = EXIT_FINISHED;
    if (argc < 4) {
        print_text("You have given too few arguments\n");
        status = EXIT_TOO_FEW_ARGUMENTS;
    } else if (process_file(argv[1], argv[2], argv[3]) != RunOutcome::finished) {
        status = EXIT_FAILED;
    }
    print_description();
    // Commentary that could not be written (stdout on a full disk) is not a clean finish either. The
    // stream drops text whose write failed, so a later flush can succeed; its error flag remembers.
    const bool commentary_lost = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    if (commentary_lost && status == EXIT_FINISHED) status = EXIT_FAILED;
    return status;
}

}  // namespace varno
