// The command-line front end: argument check, one run, and the description footer.
#pragma once

namespace varno {

// Exit statuses of the program.
inline constexpr int EXIT_FINISHED = 0;
inline constexpr int EXIT_FAILED = 1;
inline constexpr int EXIT_TOO_FEW_ARGUMENTS = 2;

void print_description();

// The whole program: prints the too-few-arguments message or makes one run, then the footer. Returns
// the exit status.
int run_command_line(int argc, char** argv);

}  // namespace varno
