#!/usr/bin/env bash
# Runs the README's conversion and batch command lines, exactly as written there, on generated clips.
#
#   recipes_test.sh sox|ffmpeg|batch README.md path/to/varno path/to/make_demo
#
# sox:    a 24-bit 48 kHz mono FLAC through the sox conversion, the padding and the header rewrite.
# ffmpeg: a tagged 48 kHz mono MP3 with cover art through the ffmpeg conversion; the same file
#         converted without the flags must fail the README's header check, so the check is shown to
#         tell the two apart.
# batch:  the xargs line on a folder of clips (one name with a blank), then on a folder where one input
#         is missing, which must give xargs's status 123 and that run's message in its log.
# The sox and ffmpeg cases are skipped when the tool is not installed.
set -euo pipefail
mode=$1
README=$(realpath "$2")
varno=$(realpath "$3")
make_demo=$(realpath "$4")
. "$(dirname "$0")/common.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The README's lines call varno by name, as after an install.
mkdir "$work/bin"
ln -s "$varno" "$work/bin/varno"
export PATH="$work/bin:$PATH"
cd "$work"

case $mode in
sox)
    command -v sox >/dev/null 2>&1 || skip "sox is not installed"
    "$make_demo" demo.wav 3
    sox demo.wav -r 48000 -c 1 -b 24 song.flac

    bash -c "$(readme_line "sox song.flac ")"
    expect_canonical_wav song.wav
    expect_frames_near "$(frames_of song.wav)" $((3 * 44100)) "song.wav"

    bash -c "$(readme_line "sox song.wav song-padded.wav ")"
    expect_canonical_wav song-padded.wav
    padded=$(frames_of song-padded.wav)
    [ "$padded" -ge $(($(frames_of song.wav) + 24000)) ] || fail "padding adds less than one block"

    bash -c "$(readme_line "varno song-padded.wav ")" >run.log || fail "varno failed: $(cat run.log)"
    [ "$(stat -c %s song-theatre.wav)" = "$(run_output_bytes song-padded.wav)" ] || fail "song-theatre.wav size"
    # The run kept every frame of the unpadded recording.
    [ "$(frames_of song-theatre.wav)" -ge "$(frames_of song.wav)" ] || fail "the padded run lost audio"

    bash -c "$(readme_line "sox --ignore-length ")"
    expect_canonical_wav song-theatre-fixed.wav
    [ "$(frames_of song-theatre-fixed.wav)" = "$(frames_of song-theatre.wav)" ] ||
        fail "the header rewrite changed the length"
    ;;
ffmpeg)
    command -v ffmpeg >/dev/null 2>&1 || skip "ffmpeg is not installed"
    encoders=$(ffmpeg -hide_banner -encoders 2>/dev/null || true)
    [[ $encoders == *libmp3lame* ]] || skip "this ffmpeg has no MP3 encoder"
    "$make_demo" demo.wav 3
    # Tags and a cover picture are what make ffmpeg add chunks and a second stream.
    ffmpeg -nostdin -v error -f lavfi -i color=c=red:s=32x32:d=1 -frames:v 1 cover.jpg
    ffmpeg -nostdin -v error -i demo.wav -i cover.jpg -map 0:a -map 1:v -c:a libmp3lame -ar 48000 -ac 1 \
        -c:v copy -disposition:v attached_pic -metadata title="Test song" -metadata artist=Tester song.mp3

    bash -c "$(readme_line "ffmpeg -i song.mp3 ")" </dev/null
    expect_canonical_wav song.wav
    expect_frames_near "$(frames_of song.wav)" $((3 * 44100)) "song.wav"
    check=$(readme_line "tail -c +37 ")
    [ "$(bash -c "$check")" = data ] || fail "the README's header check rejects a converted file"

    ffmpeg -nostdin -v error -i song.mp3 -vn -ac 2 -ar 44100 -c:a pcm_s16le plain.wav
    [ "$(bash -c "${check//song.wav/plain.wav}")" != data ] ||
        fail "ffmpeg without the flags now writes a 44-byte header; the README's flags may be out of date"

    varno song.wav song-theatre.wav 0.8 >run.log || fail "varno failed: $(cat run.log)"
    [ "$(stat -c %s song-theatre.wav)" = "$(run_output_bytes song.wav)" ] || fail "song-theatre.wav size"
    ;;
batch)
    batch=$(readme_line "mkdir -p theatre && ")
    mkdir good broken
    for name in "one.wav" "two words.wav" "three.wav"; do "$make_demo" "good/$name" 1.2; done
    (cd good && bash -c "$batch") || fail "the batch line failed on good input"
    for name in "one.wav" "two words.wav" "three.wav"; do
        out="good/theatre/$name"
        [ "$(stat -c %s "$out")" = $((44 + 2 * 96000)) ] || fail "$out has the wrong size"
        grep -q "^FILE 0:01$" "$out.log" || fail "$out.log lacks the run's summary"
    done

    "$make_demo" broken/fine.wav 1.2
    ln -s nowhere.wav broken/missing.wav
    status=0
    (cd broken && bash -c "$batch") || status=$?
    [ "$status" = 123 ] || fail "the batch line gave status $status with a missing input, not 123"
    grep -q "^Cannot open input file missing.wav$" broken/theatre/missing.wav.log ||
        fail "no message for the missing input"
    [ "$(stat -c %s broken/theatre/fine.wav)" = $((44 + 2 * 96000)) ] || fail "the good file of the broken folder"
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
echo "PASSED: $mode recipes"
