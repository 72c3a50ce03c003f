// varno input.wav output.wav gain
#include "app.h"

int main(int argc, char** argv) { return varno::run_command_line(argc, argv); }
