#!/usr/bin/env bash
# Builds the program and the whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the suite. The tests that run build/varno as a user would then run the instrumented program too,
# so a fault in the run itself (not just in the libraries) stops the suite.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNO_SANITIZE=ON -DVARNO_WERROR=ON
cmake --build build-sanitize -j2
# Fresh heap memory is filled with garbage (the run's buffers are under 1 MiB), so nothing may rely on
# it being zero.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:max_malloc_fill_size=1048576 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j2
