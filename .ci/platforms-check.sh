#!/usr/bin/env bash
# What can be checked here of the builds for platforms this machine does not run:
#   1. the level choice for each target architecture, universal macOS binaries included
#      (cmake -P .ci/levels-check.cmake);
#   2. the scalar build compiled by clang with -pedantic-errors -Werror;
#   3. the module's C++ compiled for Windows by Debian's MinGW-w64 cross compiler, against
#      CPython's Windows headers (Include/ and PC/pyconfig.h of Debian's python3.11 source);
#   4. no GNU builtin or attribute outside the GCC/clang vector layer and the portability
#      macros, as MSVC has none of them;
#   5. the wheels that hosted CI builds (cibuildwheel, [tool.cibuildwheel] in pyproject.toml)
#      for Linux, macOS and Windows: every supported CPython on every architecture.
# `make check-platforms` runs it.
#
#   bash .ci/platforms-check.sh PYTHON
#
# PYTHON: a Python with pip and cibuildwheel (the project's venv). Needs Debian 12 and root
# for apt-get; the downloads are kept in build/platforms.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=$1
WORK=build/platforms
mkdir -p "$WORK"
step() { printf '\n=== %s\n' "$1"; }
flags=(-std=c++17 -O2 -Wall -Wextra -Werror -ffp-contract=off -fno-fast-math -Isrc)

step "Levels chosen by target architecture"
cmake -P .ci/levels-check.cmake

step "Tools: clang, MinGW-w64, CPython's Windows headers, pybind11"
export DEBIAN_FRONTEND=noninteractive
if ! command -v clang++ >/dev/null || ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    apt-get update -q >/dev/null
    apt-get install -y -q --no-install-recommends clang g++-mingw-w64-x86-64-posix >/dev/null
fi
WINDOWS_PYTHON=$WORK/windows-python
if [ ! -f "$WINDOWS_PYTHON/PC/pyconfig.h" ]; then
    # Debian's source package of python3.11 holds CPython's headers, PC/pyconfig.h (the
    # Windows configuration) included; apt reads a source list of this step's own.
    mkdir -p "$WORK/apt/lists/partial" "$WORK/source"
    cat >"$WORK/apt/deb-src.sources" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    apt_options=(-o Dir::Etc::SourceParts=/dev/null -o "Dir::Etc::sourcelist=$PWD/$WORK/apt/deb-src.sources"
                 -o "Dir::State::Lists=$PWD/$WORK/apt/lists")
    apt-get "${apt_options[@]}" update -q >/dev/null
    (cd "$WORK/source" && apt-get "${apt_options[@]}" source --download-only -q python3.11 \
        2>&1 | { grep -v "unsandboxed" || true; })
    mkdir -p "$WINDOWS_PYTHON"
    tar -xzf "$WORK"/source/python3.11_*.orig.tar.gz -C "$WINDOWS_PYTHON" --strip-components=1 \
        --wildcards '*/Include/*' '*/PC/pyconfig.h'
fi
[ -d "$WORK/pybind11/pybind11" ] ||
    "$PYTHON" -m pip install -q --disable-pip-version-check --target "$WORK/pybind11" \
        "$("$PYTHON" packaging/extra.py build-system | grep '^pybind11')"
PYBIND11=$WORK/pybind11/pybind11/include
PYTHON_INCLUDE=$("$PYTHON" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')

step "Scalar build, clang -pedantic-errors -Werror"
clang++ "${flags[@]}" -pedantic-errors -isystem "$PYTHON_INCLUDE" -isystem "$PYBIND11" \
    -c src/module.cpp -o "$WORK/module-clang.o"
echo "src/module.cpp: no warning"

step "Windows x86-64, MinGW-w64 GCC (scalar kernels; CPython 3.11's headers)"
x86_64-w64-mingw32-g++-posix "${flags[@]}" -isystem "$WINDOWS_PYTHON/Include" \
    -isystem "$WINDOWS_PYTHON/PC" -isystem "$PYBIND11" -c src/module.cpp -o "$WORK/module-mingw.o"
echo "src/module.cpp: no warning"

step "GNU builtins and attributes only in the vector layer and the portability macros"
# The vector layer (lanes, vector, the *_vector kernels, simd/) is built by GCC and clang
# only; element.hpp and catmull_rom.hpp use them behind compiler tests.
if grep -nE '__builtin_|__attribute__|\basm\b|\[\[gnu::' src/*.hpp src/*.cpp src/kernels/*.hpp |
    grep -vE '^src/(kernels/(lanes|vector|catmull_rom|[a-z]+_vector)\.hpp|element\.hpp):'; then
    echo "error: GNU extensions outside the vector layer (MSVC builds these files)" >&2
    exit 1
fi
echo "none"

step "cibuildwheel's build identifiers for each platform"
expect_identifiers() {
    local platform=$1 expected=$2 printed
    printed=$("$PYTHON" -m cibuildwheel --print-build-identifiers --platform "$platform" | sort | tr '\n' ' ')
    # shellcheck disable=SC2086
    expected=$(printf '%s\n' $expected | sort | tr '\n' ' ')
    echo "$platform: $printed"
    [ "$printed" = "$expected" ] ||
        { echo "error: cibuildwheel builds for $platform: $printed; expected $expected" >&2; exit 1; }
}
versions="cp310 cp311 cp312 cp313 cp314 cp314t"
each() { local v; for v in $versions; do printf '%s ' "$v-$1"; done; }
expect_identifiers linux "$(each manylinux_x86_64)$(each manylinux_aarch64)"
expect_identifiers macos "$(each macosx_x86_64)$(each macosx_arm64)"
expect_identifiers windows "$(each win_amd64)"
