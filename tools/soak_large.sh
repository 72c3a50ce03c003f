#!/usr/bin/env bash
# Soak run, not part of CI: one real input of more than 4 GiB through build/varno. The input is a sparse
# file of silence with the demo clip's header and two stretches of the demo's audio, placed in the blocks
# that straddle byte 2^31 and byte 2^32. A block after a silent one filters as if the run began there, so
# the expected output is built as a sparse file too, from a small run on one stretch, and the whole output
# is compared with it byte for byte. It also checks the exit status, the size, the FILE line and the
# marks. Took 22 minutes on one core here (with the per-sample filter; less with a faster one) and needs
# 4.3 GB of disk for the output.
#
#   tools/soak_large.sh [blocks] [scratch folder]
#   VARNO_SOAK_BYTES="200000 400000" tools/soak_large.sh 6   # the same checks on a small file
set -euo pipefail
cd "$(dirname "$0")/.."
blocks="${1:-44800}"  # 4300800000 data bytes, past 2^32
scratch="${2:-}"
if [ -z "$scratch" ]; then
  scratch="$(mktemp -d)"
  trap 'rm -rf "$scratch"' EXIT
fi
program="build/varno"
[ -x "$program" ] && [ -x build/make_demo ] ||
  { echo "build the program first: cmake -S . -B build && cmake --build build -j2"; exit 1; }

extra=12345  # a part-block at the end, dropped
data_bytes=$((blocks * 96000 + extra))
truncate -s $((44 + data_bytes)) "$scratch/large.wav"
build/make_demo "$scratch/demo.wav" 1 >/dev/null
# The demo's header, and one block of its audio at each place.
dd if="$scratch/demo.wav" of="$scratch/large.wav" bs=44 count=1 conv=notrunc status=none
head -c $((44 + 96000)) "$scratch/demo.wav" | tail -c 96000 >"$scratch/stretch"
places=()
for boundary in ${VARNO_SOAK_BYTES:-2147483648 4294967296}; do
  place=$(((boundary - 44) / 96000))  # the block holding that byte
  if [ $((place + 2)) -le "$blocks" ]; then places+=("$place"); fi
done
for place in "${places[@]}"; do
  dd if="$scratch/stretch" of="$scratch/large.wav" bs=96000 seek=$((44 + place * 96000)) oflag=seek_bytes \
    conv=notrunc status=none
done
echo "input: $((44 + data_bytes)) bytes, $blocks whole blocks, audio in blocks ${places[*]:-none} (from 0)"

# Expected output: the demo header, silence, and at each place what a fresh run makes of the stretch and
# the silent block after it.
{ head -c 44 "$scratch/demo.wav"; cat "$scratch/stretch"; head -c 96000 /dev/zero; } >"$scratch/small.wav"
"$program" "$scratch/small.wav" "$scratch/small-out.wav" 0.5 >/dev/null
want_size=$((44 + blocks * 96000))
truncate -s "$want_size" "$scratch/expected.wav"
dd if="$scratch/small-out.wav" of="$scratch/expected.wav" bs=44 count=1 conv=notrunc status=none
for place in "${places[@]}"; do
  tail -c $((2 * 96000)) "$scratch/small-out.wav" |
    dd of="$scratch/expected.wav" bs=96000 seek=$((44 + place * 96000)) oflag=seek_bytes conv=notrunc status=none
done

start=$(date +%s)
set +e
"$program" "$scratch/large.wav" "$scratch/large-out.wav" 0.5 >"$scratch/transcript"
status=$?
set -e
echo "run took $(( $(date +%s) - start )) s, exit status $status"

seconds=$((blocks * 96000 / 44100 / 4))
want_file=$(printf 'FILE %d:%02d' $((seconds / 60)) $((seconds % 60)))
size=$(stat -c %s "$scratch/large-out.wav")
fail=0
[ "$status" -eq 0 ] || { echo "FAIL: exit status $status"; fail=1; }
[ "$size" -eq "$want_size" ] || { echo "FAIL: output is $size bytes, want $want_size"; fail=1; }
grep -qx "$want_file" "$scratch/transcript" || { echo "FAIL: no line '$want_file' in the transcript"; fail=1; }
marks=$(tr -cd '*' <"$scratch/transcript" | wc -c)
[ "$marks" -eq "$blocks" ] || { echo "FAIL: $marks progress marks, want $blocks"; fail=1; }
cmp "$scratch/large-out.wav" "$scratch/expected.wav" || { echo "FAIL: output differs from the expected bytes"; fail=1; }
rm -f "$scratch"/{large.wav,large-out.wav,expected.wav,small.wav,small-out.wav,demo.wav,stretch}
if [ "$fail" -eq 0 ]; then echo "OK: $want_size bytes out, $want_file"; fi
exit "$fail"
