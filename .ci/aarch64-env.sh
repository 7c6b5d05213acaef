# Sourced by the scripts that run aarch64 builds under qemu-user (aarch64-check.sh, and
# packaging/wheels.sh for the aarch64 wheel): Debian's cross tools and qemu-user, binfmt_misc,
# an arm64 sysroot with Debian's CPython 3.11, and the test dependencies for aarch64.
#
# Expects PROJECT, CALLS and DIGESTS. Sets WORK (default build/aarch64 in the project;
# reused), SYSROOT, SITE, PYTHON_AARCH64, and defines run_suite_aarch64 and
# compare_bits_aarch64.
#
# Environment:
#   HOST_PYTHON   a Python with pip, for downloads (default python3)
#   PYTEST_ARGS   what to run under emulation (default: the suite without the tests that
#                 read the installed wheel's metadata and stubs, and the slow memory tests)
WORK=${WORK:-$PROJECT/build/aarch64}
SYSROOT=$WORK/sysroot
SITE=$WORK/site-aarch64
HOST_PYTHON=${HOST_PYTHON:-python3}
PYTHON_AARCH64=$SYSROOT/usr/bin/python3.11
# The slow tests repeat calls 100,000 times to watch memory (5 minutes under qemu).
DEFAULT_PYTEST_ARGS='--ignore=tests/test_distribution.py --ignore=tests/test_typing.py -m "not slow"'
PYTEST_ARGS=${PYTEST_ARGS:-$DEFAULT_PYTEST_ARGS}
mkdir -p "$WORK"
step() { printf '\n=== %s (%s)\n' "$1" "$(date +%T)"; }

step "Debian packages: cross compiler, qemu-user, CMake, Ninja"
export DEBIAN_FRONTEND=noninteractive
# Only where something is missing: runs of this script may go on at once (CI runs them so),
# and apt allows one at a time.
packages=(g++-aarch64-linux-gnu clang qemu-user qemu-user-binfmt cmake ninja-build)
if ! dpkg --print-foreign-architectures | grep -qx arm64 || ! dpkg -s "${packages[@]}" >/dev/null 2>&1; then
    dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
    apt-get update -q >/dev/null
    apt-get install -y -q --no-install-recommends "${packages[@]}" >/dev/null
fi

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
        --target "$WORK/pybind11" "$("$HOST_PYTHON" "$PROJECT/packaging/extra.py" build-system |
        grep '^pybind11')" 2>&1 | { grep -v "^WARNING: Location" || true; }

# Checks an aarch64 module file ($2; $1 names it in the messages): the NEON level is in it
# (its windows pick samples with table lookups, which nothing else emits) and no
# multiply-add is contracted.
check_aarch64_module() {
    local name=$1 module=$2
    aarch64-linux-gnu-readelf -h "$module" | grep -E 'Class|Machine'
    aarch64-linux-gnu-objdump -d "$module" >"$WORK/$name.dis"
    grep -qE '\btbl\b' "$WORK/$name.dis" ||
        { echo "error: the $name build has no NEON level" >&2; exit 1; }
    if grep -qE '\bf(n?madd|n?msub|mla|mls)\b' "$WORK/$name.dis"; then
        echo "error: the $name build contracts multiply-adds" >&2
        exit 1
    fi
    echo "$name: NEON level built ($(grep -cE '\btbl\b' "$WORK/$name.dis") table lookups), no fused multiply-add"
}

# Runs the suite under qemu-aarch64 with the module found in $1.
run_suite_aarch64() {
    local module_dir=$1
    (
        cd "$PROJECT"
        eval "set -- $PYTEST_ARGS"
        PYTHONPATH=$module_dir:$SITE HYPOTHESIS_STORAGE_DIRECTORY=$WORK/hypothesis \
            "$PYTHON_AARCH64" -m pytest -p no:cacheprovider -q "$@"
    )
}

# Replays the recorded calls with the module found in $2 and compares the digests with the
# x86-64 build's; $1 names the build in the messages.
compare_bits_aarch64() {
    local name=$1 module_dir=$2
    (cd "$PROJECT" && PYTHONPATH=$module_dir:$SITE "$PYTHON_AARCH64" tests/bits.py --replay \
        "$CALLS" >"$WORK/bits-$name.txt")
    cmp "$WORK/bits-$name.txt" "$DIGESTS" ||
        { echo "error: the aarch64 $name build's results differ from x86-64's" >&2; exit 1; }
    echo "$(wc -l <"$WORK/bits-$name.txt") calls: the aarch64 $name build's results equal x86-64's"
}
