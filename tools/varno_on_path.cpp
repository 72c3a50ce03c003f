// varno_on_path: the varno program with its block filter path chosen by hand, for timing one path
// against another. The program itself always takes the fastest path the CPU supports.
//
//   varno_on_path sequential|portable|sse2|avx2|avx512 input.wav output.wav gain
#include <cstdio>
#include <cstring>

#include "app.h"
#include "reflection.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: varno_on_path PATH input.wav output.wav gain\n");
        return 2;
    }
    for (const varno::BlockPath path : varno::ALL_BLOCK_PATHS) {
        if (std::strcmp(argv[1], varno::block_path_name(path)) != 0) continue;
        if (!varno::use_block_path(path)) {
            std::fprintf(stderr, "varno_on_path: this CPU has no %s path\n", argv[1]);
            return 2;
        }
        argv[1] = argv[0];
        return varno::run_command_line(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "varno_on_path: unknown path %s\n", argv[1]);
    return 2;
}
