#!/usr/bin/env bash
# The manual page renders without a warning from groff or man, at the width of a common terminal.
#
#   man_page_test.sh docs/varno.1
#
# Skipped when groff is not installed; the man check runs only where man is.
set -euo pipefail
page=$(realpath "$1")
. "$(dirname "$0")/common.sh"

command -v groff >/dev/null 2>&1 || skip "groff is not installed"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# -ww turns on every warning; -z discards the output, so anything printed is a complaint.
groff -man -Tutf8 -ww -z "$page" >"$work/groff.err" 2>&1 || fail "groff failed: $(cat "$work/groff.err")"
[ ! -s "$work/groff.err" ] || fail "groff warned: $(cat "$work/groff.err")"

if command -v man >/dev/null 2>&1; then
    MANWIDTH=80 man -l "$page" >"$work/page.txt" 2>"$work/man.err" || fail "man -l failed: $(cat "$work/man.err")"
    [ ! -s "$work/man.err" ] || fail "man -l warned: $(cat "$work/man.err")"
    long=$(awk 'length($0) > 80' "$work/page.txt")
    [ -z "$long" ] || fail "lines wider than 80 columns: $long"
    for section in NAME SYNOPSIS DESCRIPTION ARGUMENTS INPUT OUTPUT "EXIT STATUS" EXAMPLES; do
        grep -qx "$section" "$work/page.txt" || fail "no $section section"
    done
fi
echo "PASSED: $page renders cleanly"
