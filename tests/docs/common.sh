# Helpers shared by the documentation tests: skipping, failing, the README's own command lines, and the
# check that a file is the canonical 44-byte-header WAV the program expects.

SKIP_CODE=77  # registered as SKIP_RETURN_CODE in tests/CMakeLists.txt

skip() {
    echo "SKIPPED: $*"
    exit "$SKIP_CODE"
}

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# The first indented code line of the README that starts with the given text, without its indent, so the
# tests run exactly what a reader copies.
readme_line() {
    local line
    line=$(grep -m 1 -F -- "    $1" "$README" | sed 's/^    //') || true
    [ -n "$line" ] || fail "README has no command line starting with: $1"
    printf '%s\n' "$line"
}

u32_at() { od -An -v --endian=little -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }
u16_at() { od -An -v --endian=little -t u2 -j "$2" -N 2 "$1" | tr -d ' '; }
text_at() { tail -c +$(($2 + 1)) "$1" | head -c 4; }

# Fails unless the file is RIFF/WAVE with a 16-byte PCM fmt chunk, 2 channels, 44100 Hz, 16 bits, the
# data chunk at byte 36 and sizes that agree with the file's length.
expect_canonical_wav() {
    local f=$1 size
    [ -f "$f" ] || fail "$f was not written"
    size=$(stat -c %s "$f")
    [ "$size" -ge 44 ] || fail "$f is $size bytes, shorter than a header"
    [ "$(text_at "$f" 0)" = RIFF ] || fail "$f: no RIFF at byte 0"
    [ "$(u32_at "$f" 4)" = $((size - 8)) ] || fail "$f: RIFF size $(u32_at "$f" 4), file is $size bytes"
    [ "$(text_at "$f" 8)" = WAVE ] || fail "$f: no WAVE at byte 8"
    [ "$(text_at "$f" 12)" = "fmt " ] || fail "$f: no fmt chunk at byte 12"
    [ "$(u32_at "$f" 16)" = 16 ] || fail "$f: fmt chunk of $(u32_at "$f" 16) bytes, not 16"
    [ "$(u16_at "$f" 20)" = 1 ] || fail "$f: format $(u16_at "$f" 20), not PCM"
    [ "$(u16_at "$f" 22)" = 2 ] || fail "$f: $(u16_at "$f" 22) channels"
    [ "$(u32_at "$f" 24)" = 44100 ] || fail "$f: $(u32_at "$f" 24) Hz"
    [ "$(u32_at "$f" 28)" = 176400 ] || fail "$f: byte rate $(u32_at "$f" 28)"
    [ "$(u16_at "$f" 32)" = 4 ] || fail "$f: block align $(u16_at "$f" 32)"
    [ "$(u16_at "$f" 34)" = 16 ] || fail "$f: $(u16_at "$f" 34) bits"
    [ "$(text_at "$f" 36)" = data ] || fail "$f: '$(text_at "$f" 36)' at byte 36, not the data chunk"
    [ "$(u32_at "$f" 40)" = $((size - 44)) ] || fail "$f: data size $(u32_at "$f" 40), file is $size bytes"
}

# Frames of audio in a canonical file.
frames_of() { echo $((($(stat -c %s "$1") - 44) / 4)); }

# Fails unless frames lies within 2% of want (resamplers and MP3 framing move the ends a little).
expect_frames_near() {
    local frames=$1 want=$2 what=$3
    local slack=$((want / 50))
    [ "$frames" -ge $((want - slack)) ] && [ "$frames" -le $((want + slack)) ] ||
        fail "$what holds $frames frames, expected about $want"
}

# Output size of a run: the header and the input's whole 96000-byte blocks.
run_output_bytes() { echo $((44 + ($(stat -c %s "$1") - 44) / 96000 * 96000)); }
