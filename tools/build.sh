#!/bin/sh
# Builds every tree: the 32-bit release, the x86_64 program the system tests
# run, the x86_64 unit tests (run under wine64), the native sanitizer build and
# the libFuzzer targets. Pass tree names to build only some of them.
set -e
cd "$(dirname "$0")/.."
trees="${*:-i686 x64 x64-tests native fuzz}"
root="${CORVANE_BUILD_ROOT:-build}"
for tree in $trees; do
    case "$tree" in
        i686) args="-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686-win32.cmake -DCMAKE_BUILD_TYPE=Release -DCORVANE_TEST_PROGRAMS=ON" ;;
        x64) args="-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64-win32.cmake -DCMAKE_BUILD_TYPE=Release -DCORVANE_TEST_PROGRAMS=ON" ;;
        x64-tests) args="-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64-posix.cmake -DCMAKE_BUILD_TYPE=Debug -DCORVANE_UNIT_TESTS=ON" ;;
        native) args="-DCMAKE_BUILD_TYPE=Debug" ;;
        fuzz) args="-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCORVANE_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug" ;;
        *) echo "unknown tree $tree" >&2; exit 2 ;;
    esac
    [ -f "$root/$tree/build.ninja" ] || cmake -S . -B "$root/$tree" -G Ninja $args >/dev/null
    ninja -C "$root/$tree"
done
