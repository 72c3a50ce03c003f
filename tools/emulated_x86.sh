#!/usr/bin/env bash
# Runs the release build on x86-64 CPUs this machine is not: under qemu-user, once as a plain x86-64 with
# SSE2 only (qemu64) and once as a Haswell (AVX2 and FMA, no AVX-512). On each it
#   - checks that the filter paths the emulated CPU lacks are refused and the ones it has are taken,
#   - runs varno itself (the kernel the dispatcher picks, and the conversions' clones) on a demo clip and
#     compares the output with this machine's, byte for byte,
#   - runs the filter's exactness tests, every path the emulated CPU has held to filter_sample.
# This shows the binary built without -march=native runs on any x86-64 and gives the same bits there.
#
#   tools/emulated_x86.sh [build-dir]     (default: build, configured and built if missing)
#
# Installs qemu-user from Debian's packages if it is missing. The two CPUs run side by side (about
# 2.5 minutes each).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build}")

if ! command -v qemu-x86_64 >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq qemu-user >/dev/null
fi
if [[ ! -x $build/varno_filter_tests ]]; then
  cmake -S . -B "$build" >/dev/null
fi
cmake --build "$build" -j2 --target varno varno_on_path make_demo varno_filter_tests >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/make_demo" "$work/in.wav" 20
"$build/varno" "$work/in.wav" "$work/native.wav" 0.8 >/dev/null

# on_cpu CPU HAS LACKS: the checks above on one emulated CPU; HAS and LACKS are lists of filter paths.
on_cpu() {
  local cpu=$1 has=$2 lacks=$3 log="$work/$1.log"
  {
    echo "== x86-64 emulated as $cpu"
    for path in $lacks; do
      if qemu-x86_64 -cpu "$cpu" "$build/varno_on_path" "$path" "$work/in.wav" "$work/$cpu-$path.wav" 0.8 \
        >/dev/null 2>&1; then
        echo "FAIL: the $path path ran on $cpu"
        return 1
      fi
    done
    for path in $has; do
      qemu-x86_64 -cpu "$cpu" "$build/varno_on_path" "$path" "$work/in.wav" "$work/$cpu-$path.wav" 0.8 >/dev/null
      cmp "$work/native.wav" "$work/$cpu-$path.wav"
    done
    qemu-x86_64 -cpu "$cpu" "$build/varno" "$work/in.wav" "$work/$cpu.wav" 0.8 >/dev/null
    cmp "$work/native.wav" "$work/$cpu.wav"
    echo "paths taken: $has; refused: $lacks; varno output identical to this machine's"
    qemu-x86_64 -cpu "$cpu" "$build/varno_filter_tests" --gtest_brief=1
  } >"$log" 2>&1
}

status=0
on_cpu qemu64 "portable sse2" "avx2 avx512" &
plain=$!
on_cpu Haswell "portable sse2 avx2" "avx512" &
haswell=$!
wait "$plain" || status=1
wait "$haswell" || status=1
# qemu warns about each feature of the Haswell model it cannot emulate (none that the filter uses).
grep -hv "TCG doesn't support requested feature" "$work/qemu64.log" "$work/Haswell.log"
exit "$status"
