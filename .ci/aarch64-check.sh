#!/usr/bin/env bash
# Cross-builds velquin_interp for Linux aarch64 (NEON level included) with Debian's cross
# compiler and runs the test suite under qemu-user, with Debian's arm64 CPython 3.11 and a
# manylinux aarch64 NumPy wheel; then replays the recorded bit-check calls there and
# compares the digests with the x86-64 build's, byte for byte; then builds again with clang
# (the compiler of macOS on Apple silicon) and replays the calls on that build too.
# `make test-aarch64` runs it.
#
#   bash .ci/aarch64-check.sh PROJECT_DIR CALLS.pickle DIGESTS.txt
#
# Needs Debian 12 (bookworm) x86-64, root (apt-get, dpkg --add-architecture, binfmt_misc),
# PyPI and the Debian mirrors. The project is only read: CMakeLists.txt, cmake/ and src/ are
# built in $WORK for the sysroot's Python 3.11; nothing is installed into the system's
# Python. aarch64-env.sh sets up the tools and lists the environment variables.
set -euo pipefail

PROJECT=$(cd "$1" && pwd)
CALLS=$(realpath "$2")
DIGESTS=$(realpath "$3")
started=$SECONDS
# shellcheck source=.ci/aarch64-env.sh
source "$(dirname "$0")/aarch64-env.sh"

# Cross-builds into $WORK/build-NAME with the compiler that the toolchain lines set, and
# checks the module: no compiler warning, the NEON level compiled and in the file, no fused
# multiply-add.
cross_build() {
    local name=$1 toolchain_lines=$2 build=$WORK/build-$1
    rm -rf "$build"
    printf 'set(CMAKE_SYSTEM_NAME Linux)\nset(CMAKE_SYSTEM_PROCESSOR aarch64)\n%s\n%s\n' \
        "$toolchain_lines" "set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L $SYSROOT)" \
        >"$WORK/$name.cmake"
    # Debian's pyconfig.h includes <aarch64-linux-gnu/python3.11/pyconfig.h>: the sysroot's
    # include directory is searched after the compiler's own.
    /usr/bin/cmake -S "$WORK/source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$WORK/$name.cmake" \
        -DPython_EXECUTABLE="$PYTHON_AARCH64" \
        -DPython_INCLUDE_DIR="$SYSROOT/usr/include/python3.11" \
        -DCMAKE_CXX_FLAGS="-idirafter $SYSROOT/usr/include" \
        -Dpybind11_DIR="$WORK/pybind11/pybind11/share/cmake/pybind11" >"$build.configure.log"
    ninja -C "$build" -j2 -v >"$build.log" 2>&1 || { cat "$build.log"; exit 1; }
    if grep -E "warning:" "$build.log"; then echo "error: the $name build warns" >&2; exit 1; fi
    grep -q -- "-DVELQUIN_LEVEL=level_neon" "$build.log" ||
        { echo "error: the $name build has no NEON level" >&2; exit 1; }
    check_aarch64_module "$name" "$(ls "$build"/velquin_interp.cpython-311-aarch64-linux-gnu.so)"
}

step "Cross build with GCC (CMake, Release, for the sysroot's Python 3.11)"
rm -rf "$WORK/source"
mkdir -p "$WORK/source"
cp -r "$PROJECT/CMakeLists.txt" "$PROJECT/cmake" "$PROJECT/src" "$WORK/source/"
cross_build gcc 'set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)'

step "Test suite under qemu-aarch64, GCC build: $PYTEST_ARGS"
run_suite_aarch64 "$WORK/build-gcc"

step "Bits: the recorded calls on aarch64 against the x86-64 build's digests"
compare_bits_aarch64 gcc "$WORK/build-gcc"

step "Cross build with clang, and its bits"
cross_build clang $'set(CMAKE_CXX_COMPILER clang++)\nset(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)'
compare_bits_aarch64 clang "$WORK/build-clang"
echo "aarch64 check passed in $((SECONDS - started)) s"
