#!/usr/bin/env bash
# Interpreters this machine's Debian lacks, from Debian's packages only: a chroot of Debian
# unstable (sid) with its CPython 3.14 and GCC, and in it a free-threaded CPython 3.13
# ("3.13t") built from the source of Debian's python3.13 package. Both are made once and
# kept under build/sid; `make clean` removes them.
#
#   sid-chroot.sh chroot            the chroot and its packages
#   sid-chroot.sh free-threaded     the same, and the free-threaded build in /opt/python3.13t
#   sid-chroot.sh run COMMAND...    COMMAND in the chroot, in /project (this project)
#
# Needs root (debootstrap, chroot, mounts). Each `run` mounts the project and /proc in a
# mount namespace of its own, so the mounts end with it: runs may go on at once, and no
# mount is left behind under build/ for `rm -rf` to walk into.
set -euo pipefail
PROJECT=$(cd "$(dirname "$0")/.." && pwd)
SID=$PROJECT/build/sid
ROOT=$SID/root
FREE_THREADED=/opt/python3.13t   # the free-threaded CPython's prefix, in the chroot

# The mirror this machine's apt uses for Debian (deb822 or one-line sources).
host_mirror() {
    grep -hoE 'https?://[^ ]+/debian/?( |$)' /etc/apt/sources.list.d/*.sources \
        /etc/apt/sources.list 2>/dev/null | head -n1 | tr -d ' ' || true
}

# The host's certificates (which may add a proxy's authority) and pip's configuration,
# copied in, so that pip reaches the same indexes from the chroot.
copy_host_settings() {
    cp /etc/resolv.conf "$ROOT/etc/resolv.conf"
    mkdir -p "$ROOT/etc/ssl/certs"
    cp /etc/ssl/certs/ca-certificates.crt "$ROOT/etc/ssl/certs/ca-certificates.crt"
    [ ! -f /etc/pip.conf ] || cp /etc/pip.conf "$ROOT/etc/pip.conf"
    if [ -d /etc/xdg/pip ]; then
        mkdir -p "$ROOT/etc/xdg"
        rm -rf "$ROOT/etc/xdg/pip"
        cp -r /etc/xdg/pip "$ROOT/etc/xdg/pip"
    fi
}

run() {
    copy_host_settings
    mkdir -p "$ROOT/project"
    # pip's find-links folder of the host may not exist in the chroot.
    unshare --mount --propagation private env -u PIP_FIND_LINKS ROOT="$ROOT" PROJECT="$PROJECT" \
        bash -c 'mount --bind "$PROJECT" "$ROOT/project" && mount -t proc proc "$ROOT/proc" &&
                 exec chroot "$ROOT" /usr/bin/env PATH=/usr/local/bin:/usr/bin:/bin HOME=/root \
                 bash -c "cd /project && exec \"\$@\"" chroot "$@"' run "$@"
}

setup_chroot() {
    [ ! -f "$SID/.chroot" ] || return 0
    local mirror
    mirror=$(host_mirror)
    mirror=${mirror:-http://deb.debian.org/debian}
    command -v debootstrap >/dev/null || {
        apt-get update -q >/dev/null && apt-get install -y -q --no-install-recommends debootstrap >/dev/null; }
    rm -rf "$ROOT"
    mkdir -p "$ROOT"
    echo "debootstrap sid from $mirror"
    debootstrap --variant=minbase sid "$ROOT" "$mirror" >"$SID/debootstrap.log" 2>&1 ||
        { tail -n 30 "$SID/debootstrap.log"; exit 1; }
    # The mirror may be a snapshot, whose Release files have expired.
    echo 'Acquire::Check-Valid-Until "false";' >"$ROOT/etc/apt/apt.conf.d/90snapshot"
    printf 'deb %s sid main\ndeb-src %s sid main\n' "$mirror" "$mirror" >"$ROOT/etc/apt/sources.list"
    rm -f "$ROOT"/etc/apt/sources.list.d/*
    # CPython 3.14 with venv, the package's build tools, and what the free-threaded build
    # needs: a compiler, and the headers of the modules pip and the suite use (ssl, zlib,
    # ctypes' libffi).
    run bash -c 'export DEBIAN_FRONTEND=noninteractive; apt-get update -q >/dev/null &&
        apt-get install -y -q --no-install-recommends python3.14 python3.14-dev python3.14-venv \
            g++ make cmake ninja-build git ca-certificates dpkg-dev xz-utils \
            libssl-dev zlib1g-dev libffi-dev pkg-config >/dev/null'
    touch "$SID/.chroot"
}

# CPython 3.13 from Debian's source package, without the GIL: upstream's sources as Debian
# ships them (the .orig tarball; Debian's own patches are for its packaging, and some do not
# apply to this build), with only the modules the suite needs and no profile-guided or
# link-time optimisation, so that it builds in a few minutes.
setup_free_threaded() {
    [ ! -f "$SID/.python3.13t" ] || return 0
    run bash -c "set -e; rm -rf /usr/src/python3.13 $FREE_THREADED && mkdir -p /usr/src/python3.13 && cd /usr/src/python3.13
        # The newest version whose files the mirror has: its index may name a newer one.
        for version in \$(apt-cache showsrc python3.13 | sed -n \"s/^Version: //p\" | sort -ruV); do
            apt-get source --download-only -q -o APT::Sandbox::User=root python3.13=\$version \
                >/dev/null 2>&1 && break
        done
        ls python3.13_*.orig.tar.* >/dev/null
        tar -xf python3.13_*.orig.tar.* && cd Python-3.13*/
        # Modules that nothing here imports, built from bundled sources otherwise; those that
        # need libraries the chroot lacks (sqlite, bz2, lzma, curses, readline, tk) are left
        # out by configure itself.
        for module in _decimal _multibytecodec _codecs_cn _codecs_hk _codecs_iso2022 _codecs_jp \
                _codecs_kr _codecs_tw _elementtree _interpreters _interpchannels _interpqueues \
                xxlimited xxlimited_35 xxsubtype; do
            export py_cv_module_\$module=n/a
        done
        ./configure -q --disable-gil --prefix=$FREE_THREADED --disable-test-modules --with-ensurepip=no \
            >configure.log 2>&1 || { tail -n 30 configure.log; exit 1; }
        make -j\$(nproc) >make.log 2>&1 || { tail -n 40 make.log; exit 1; }
        make install >install.log 2>&1 || { tail -n 30 install.log; exit 1; }
        $FREE_THREADED/bin/python3.13t -c 'import sys, ssl, zlib, ctypes; assert not sys._is_gil_enabled(); print(sys.version)'"
    touch "$SID/.python3.13t"
}

mkdir -p "$SID"
case ${1:-} in
chroot | free-threaded)
    # One set-up at a time: CI's lanes may ask for the chroot at once.
    exec 9>"$SID/.lock"
    flock 9
    setup_chroot
    [ "$1" = chroot ] || setup_free_threaded ;;
run)
    shift
    [ -f "$SID/.chroot" ] || { echo "error: no chroot yet: $0 chroot" >&2; exit 1; }
    run "$@" ;;
*)
    echo "usage: $0 chroot | free-threaded | run COMMAND..." >&2; exit 2 ;;
esac
