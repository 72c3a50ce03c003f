#!/usr/bin/env bash
# Installs the build into a scratch prefix and runs the installed program on a demo clip.
#
#   install_test.sh path/to/cmake build-dir path/to/make_demo source-dir
#
# The installed varno must finish with status 0 and write the same bytes as the built one; the manual
# page must land under share/man/man1 and, when man is installed, be found there by name.
set -euo pipefail
cmake=$1
build=$(realpath "$2")
make_demo=$(realpath "$3")
source=$(realpath "$4")
. "$(dirname "$0")/common.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix with blank"

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" || fail "install: $(cat "$work/install.log")"
[ -x "$prefix/bin/varno" ] || fail "no bin/varno under the prefix"
cmp -s "$prefix/share/man/man1/varno.1" "$source/docs/varno.1" ||
    fail "share/man/man1/varno.1 is missing or differs from docs/varno.1"

cd "$work"
"$make_demo" demo.wav 1.2
status=0
"$prefix/bin/varno" demo.wav installed.wav 0.8 >run.log || status=$?
[ "$status" = 0 ] || fail "the installed varno exited with $status: $(cat run.log)"
[ "$(stat -c %s installed.wav)" = $((44 + 2 * 96000)) ] || fail "installed.wav has the wrong size"
"$build/varno" demo.wav built.wav 0.8 >/dev/null
cmp -s installed.wav built.wav || fail "the installed and the built program write different bytes"

if command -v man >/dev/null 2>&1; then
    MANWIDTH=80 man -M "$prefix/share/man" varno >page.txt 2>man.err || fail "man varno: $(cat man.err)"
    [ ! -s man.err ] || fail "man varno warned: $(cat man.err)"
    grep -q "varno input.wav output.wav gain" page.txt || fail "the installed page lacks the usage line"
fi
echo "PASSED: install into $prefix"
