#!/usr/bin/env bash
# Cross-compiles the filter's exactness tests (and the unit tests) for aarch64 with Debian's
# g++-aarch64-linux-gnu and runs them under qemu-user. There is no x87 there and long double is a
# 128-bit format, so this shows the filter is exact without either.
#
#   tools/cross_aarch64.sh [work-dir]     (default: build-aarch64)
#
# Installs the cross compiler and qemu-user from Debian's packages if missing, and builds GoogleTest for
# aarch64 from the sources Debian ships in /usr/src/googletest.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(realpath -m "${1:-build-aarch64}")
sysroot=/usr/aarch64-linux-gnu

missing=()
command -v aarch64-linux-gnu-g++ >/dev/null || missing+=(g++-aarch64-linux-gnu)
command -v qemu-aarch64 >/dev/null || missing+=(qemu-user)
[[ -d /usr/src/googletest ]] || missing+=(googletest)
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

mkdir -p "$work"
cat >"$work/toolchain.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_FIND_ROOT_PATH $sysroot $work/gtest-install)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;$sysroot)
TOOLCHAIN

if [[ ! -f $work/gtest-install/lib/cmake/GTest/GTestConfig.cmake ]]; then
  cmake -S /usr/src/googletest -B "$work/gtest-build" -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$work/gtest-install" -DBUILD_GMOCK=OFF >/dev/null
  cmake --build "$work/gtest-build" -j2 >/dev/null
  cmake --install "$work/gtest-build" >/dev/null
fi

cmake -S . -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DVARNO_WERROR=ON -DCMAKE_PREFIX_PATH="$work/gtest-install" >/dev/null
cmake --build "$work/build" -j2 --target varno_filter_tests varno_unit_tests varno
file "$work/build/varno_filter_tests"
qemu-aarch64 -L "$sysroot" "$work/build/varno_filter_tests"
qemu-aarch64 -L "$sysroot" "$work/build/varno_unit_tests"
