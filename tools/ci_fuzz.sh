#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer on) and runs
# each one for a short while, starting from the seed corpus under fuzz/corpus/. New inputs the fuzzers
# find go to a scratch folder, never into the repository; a crash fails the script and leaves its input
# in build-fuzz/ to reproduce with `build-fuzz/<target> <input file>`.
#
#   tools/ci_fuzz.sh            # 60 seconds per target
#   VARNO_FUZZ_SECONDS=600 tools/ci_fuzz.sh
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${VARNO_FUZZ_SECONDS:-60}"

# A fresh machine lacks clang and its libFuzzer runtime.
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  apt-get update && apt-get install -y clang libclang-rt-dev
fi

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNO_FUZZ=ON \
  -DBUILD_TESTING=OFF
cmake --build build-fuzz -j2 --target pipeline_fuzz gain_fuzz

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
run_fuzzer() {
  local target="$1" max_len="$2"
  mkdir -p "$scratch/$target"
  echo "== $target: $seconds s"
  build-fuzz/"$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=30 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix=build-fuzz/"$target"- "$scratch/$target" fuzz/corpus/"${target%_fuzz}"
}
# The pipeline needs room for more than one 96000-byte block; gain texts stay short.
run_fuzzer pipeline_fuzz 300000
run_fuzzer gain_fuzz 4096
