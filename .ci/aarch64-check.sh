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
# built in $WORK for Python 3.11 (VELQUIN_PYTHON_VERSION, a build option of this check
# alone); nothing is installed into the system's Python.
#
# Environment:
#   WORK          scratch directory (default build/aarch64 in the project); reused
#   HOST_PYTHON   a Python with pip, for downloads (default python3)
#   PYTEST_ARGS   what to run under emulation (default: the suite without the tests that
#                 read the installed wheel's metadata and stubs, and the slow memory tests)
set -euo pipefail

PROJECT=$(cd "$1" && pwd)
CALLS=$(realpath "$2")
DIGESTS=$(realpath "$3")
WORK=${WORK:-$PROJECT/build/aarch64}
SYSROOT=$WORK/sysroot
SITE=$WORK/site-aarch64
HOST_PYTHON=${HOST_PYTHON:-python3}
PYTHON_AARCH64=$SYSROOT/usr/bin/python3.11
# The slow tests repeat calls 100,000 times to watch memory (5 minutes under qemu), and
# with Python 3.11's mortal None (immortal from 3.12 on) one of them fails on None's
# reference count, which other objects move.
DEFAULT_PYTEST_ARGS='--ignore=tests/test_distribution.py --ignore=tests/test_typing.py -m "not slow"'
PYTEST_ARGS=${PYTEST_ARGS:-$DEFAULT_PYTEST_ARGS}
mkdir -p "$WORK"
step() { printf '\n=== %s (%s)\n' "$1" "$(date +%T)"; }
started=$SECONDS

step "Debian packages: cross compiler, qemu-user, CMake, Ninja"
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
apt-get update -q >/dev/null
apt-get install -y -q --no-install-recommends \
    g++-aarch64-linux-gnu clang qemu-user qemu-user-binfmt cmake ninja-build >/dev/null

step "binfmt_misc: aarch64 programs run through qemu-aarch64"
# Subprocesses of the tests (sys.executable) must start like native programs.
[ -e /proc/sys/fs/binfmt_misc/register ] ||
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
[ -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ] ||
    cat /usr/lib/binfmt.d/qemu-aarch64.conf >/proc/sys/fs/binfmt_misc/register
export QEMU_LD_PREFIX=$SYSROOT

step "arm64 sysroot: Debian's python3.11, libpython3.11-dev, libstdc++6 and their dependencies"
if [ ! -x "$PYTHON_AARCH64" ]; then
    mkdir -p "$WORK/debs" "$SYSROOT"
    apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
        --no-replaces --no-enhances python3.11:arm64 libpython3.11-dev:arm64 libstdc++6:arm64 |
        grep -E '^[a-z0-9].*:arm64$' | sort -u >"$WORK/arm64-packages.txt"
    # shellcheck disable=SC2046
    (cd "$WORK/debs" && apt-get download -q -o APT::Sandbox::User=root \
        $(cat "$WORK/arm64-packages.txt") >/dev/null)
    for deb in "$WORK"/debs/*.deb; do dpkg-deb -x "$deb" "$SYSROOT"; done
fi
"$PYTHON_AARCH64" -c 'import platform, sys; print(platform.machine(), sys.version)'

step "Python packages for aarch64 (pip run by the emulated interpreter) and pybind11 headers"
if [ ! -d "$SITE/numpy" ]; then
    "$HOST_PYTHON" -m pip download -q --disable-pip-version-check --no-deps -d "$WORK/pip" pip \
        2>&1 | { grep -v "^WARNING: Location" || true; }
    "$PYTHON_AARCH64" "$(ls "$WORK"/pip/pip-*.whl)/pip" install -q --disable-pip-version-check \
        --root-user-action=ignore --target "$SITE" --only-binary=:all: \
        numpy pytest hypothesis 'dask[array,distributed]' 2>&1 |
        { grep -v "^WARNING: Location" || true; }
fi
[ -d "$WORK/pybind11/pybind11" ] ||
    "$HOST_PYTHON" -m pip install -q --disable-pip-version-check --root-user-action=ignore \
        --target "$WORK/pybind11" 'pybind11>=3.1,<4' 2>&1 | { grep -v "^WARNING: Location" || true; }

# Cross-builds into $WORK/build-NAME with the compiler that the toolchain lines set, and
# checks the module: an aarch64 file, the NEON level in it (its windows pick samples with
# table lookups, which nothing else emits), no fused multiply-add, no compiler warning.
cross_build() {
    local name=$1 toolchain_lines=$2 build=$WORK/build-$1
    rm -rf "$build"
    printf 'set(CMAKE_SYSTEM_NAME Linux)\nset(CMAKE_SYSTEM_PROCESSOR aarch64)\n%s\n%s\n' \
        "$toolchain_lines" "set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L $SYSROOT)" \
        >"$WORK/$name.cmake"
    # Debian's pyconfig.h includes <aarch64-linux-gnu/python3.11/pyconfig.h>: the sysroot's
    # include directory is searched after the compiler's own.
    /usr/bin/cmake -S "$WORK/source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$WORK/$name.cmake" -DVELQUIN_PYTHON_VERSION=3.11 \
        -DPython_EXECUTABLE="$PYTHON_AARCH64" \
        -DPython_INCLUDE_DIR="$SYSROOT/usr/include/python3.11" \
        -DCMAKE_CXX_FLAGS="-idirafter $SYSROOT/usr/include" \
        -Dpybind11_DIR="$WORK/pybind11/pybind11/share/cmake/pybind11" >"$build.configure.log"
    ninja -C "$build" -j2 -v >"$build.log" 2>&1 || { cat "$build.log"; exit 1; }
    if grep -E "warning:" "$build.log"; then echo "error: the $name build warns" >&2; exit 1; fi
    local module
    module=$(ls "$build"/velquin_interp.cpython-311-aarch64-linux-gnu.so)
    aarch64-linux-gnu-readelf -h "$module" | grep -E 'Class|Machine'
    aarch64-linux-gnu-objdump -d "$module" >"$build.dis"
    grep -q -- "-DVELQUIN_LEVEL_neon=VELQUIN_ARCH_aarch64" "$build.log" &&
        grep -qE '\btbl\b' "$build.dis" ||
        { echo "error: the $name build has no NEON level" >&2; exit 1; }
    if grep -qE '\bf(n?madd|n?msub|mla|mls)\b' "$build.dis"; then
        echo "error: the $name build contracts multiply-adds" >&2
        exit 1
    fi
    echo "$name: NEON level built ($(grep -cE '\btbl\b' "$build.dis") table lookups), no fused multiply-add"
}

# Replays the recorded calls on a build and compares the digests with the x86-64 build's.
compare_bits() {
    local name=$1
    PYTHONPATH=$WORK/build-$name:$SITE "$PYTHON_AARCH64" tests/bits.py --replay "$CALLS" \
        >"$WORK/bits-$name.txt"
    cmp "$WORK/bits-$name.txt" "$DIGESTS" ||
        { echo "error: the aarch64 $name build's results differ from x86-64's" >&2; exit 1; }
    echo "$(wc -l <"$WORK/bits-$name.txt") calls: the aarch64 $name build's results equal x86-64's"
}

step "Cross build with GCC (CMake, Release, for the sysroot's Python 3.11)"
rm -rf "$WORK/source"
mkdir -p "$WORK/source"
cp -r "$PROJECT/CMakeLists.txt" "$PROJECT/cmake" "$PROJECT/src" "$WORK/source/"
cross_build gcc 'set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)'

step "Test suite under qemu-aarch64, GCC build: $PYTEST_ARGS"
cd "$PROJECT"
eval "set -- $PYTEST_ARGS"
PYTHONPATH=$WORK/build-gcc:$SITE HYPOTHESIS_STORAGE_DIRECTORY=$WORK/hypothesis \
    "$PYTHON_AARCH64" -m pytest -p no:cacheprovider -q "$@"

step "Bits: the recorded calls on aarch64 against the x86-64 build's digests"
compare_bits gcc

step "Cross build with clang, and its bits"
cross_build clang $'set(CMAKE_CXX_COMPILER clang++)\nset(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)'
compare_bits clang
echo "aarch64 check passed in $((SECONDS - started)) s"
