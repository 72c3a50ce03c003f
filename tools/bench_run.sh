#!/usr/bin/env bash
# Times whole runs of build/varno on a 10-minute stereo recording from make_demo, against the sequential
# path (build/varno_on_path sequential: filter_sample per sample) and against ffmpeg's afir running the same
# 90-tap FIR from our impulse response. Checks that the fast output is byte-identical to the sequential one.
#
#   tools/bench_run.sh [build-dir] [runs]      (defaults: build, 5; best of runs is reported)
#
# Installs ffmpeg from Debian's packages if it is missing. The files go to a fresh folder under $TMPDIR
# (default /tmp); TMPDIR=/dev/shm keeps them in memory, which leaves the disk's write-back out of the times.
set -euo pipefail
build=$(realpath "${1:-build}")
runs=${2:-5}
seconds=600
gain=0.8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! command -v ffmpeg >/dev/null; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ffmpeg >/dev/null
fi

"$build/make_demo" "$work/in.wav" "$seconds"
"$build/make_impulse" "$work/ir.wav" "$gain"

# best_of N command...: the smallest wall time of N runs, in seconds.
best_of() {
  local n=$1 best="" start end t
  shift
  for _ in $(seq "$n"); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    t=$((end - start))
    if [[ -z $best || $t -lt $best ]]; then best=$t; fi
  done
  awk -v ns="$best" 'BEGIN { printf "%.3f", ns / 1e9 }'
}

report() {  # name, seconds
  awk -v name="$1" -v t="$2" -v audio="$seconds" \
    'BEGIN { printf "%-34s %8.3f s  %8.0f times real time\n", name, t, audio / t }'
}

echo "10-minute stereo recording, gain $gain, best of $runs runs ($(nproc) cores)"
fast=$(best_of "$runs" "$build/varno" "$work/in.wav" "$work/fast.wav" "$gain")
report "varno (path the CPU picks)" "$fast"
for path in avx512 avx2 sse2 portable; do
  if ! "$build/varno_on_path" "$path" "$work/in.wav" "$work/$path.wav" "$gain" >/dev/null 2>&1; then
    echo "varno, $path path: not on this CPU"
    continue
  fi
  n=$runs
  if [[ $path == sse2 || $path == portable ]]; then n=1; fi  # seconds per run: one is enough
  t=$(best_of "$n" "$build/varno_on_path" "$path" "$work/in.wav" "$work/$path.wav" "$gain")
  report "varno, $path path" "$t"
  cmp -s "$work/fast.wav" "$work/$path.wav" || { echo "OUTPUT DIFFERS on the $path path"; exit 1; }
done
sequential=$(best_of 1 "$build/varno_on_path" sequential "$work/in.wav" "$work/sequential.wav" "$gain")
report "varno, sequential filter_sample" "$sequential"
if cmp -s "$work/fast.wav" "$work/sequential.wav"; then
  echo "output identical to the sequential path's"
else
  echo "OUTPUT DIFFERS from the sequential path's"
  exit 1
fi
awk -v f="$fast" -v s="$sequential" 'BEGIN { printf "fast / sequential speed-up: %.1fx\n", s / f }'

afir=$(best_of "$runs" ffmpeg -nostdin -v error -y -i "$work/in.wav" -i "$work/ir.wav" \
  -lavfi "[0:a][1:a]afir=dry=1:wet=1:gtype=none" -c:a pcm_s16le "$work/afir.wav")
report "ffmpeg afir (same FIR)" "$afir"
awk -v f="$fast" -v a="$afir" 'BEGIN { printf "varno / afir speed-up: %.1fx\n", a / f }'
