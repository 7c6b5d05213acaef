# Set-up commands: `make test` and `make demo` each build everything they need from a
# clean clone, and install only what they need: the package (reinstalled whenever a build
# input changes) and the tools of their own extra in pyproject.toml. The package is built
# in build/python-3.X, which persists: a change recompiles only the files it touches.
# `make sanitize` runs the same tests against a build checked by ASan and UBSan.
# `make test-levels` runs them against builds capped at AVX2 and at the scalar kernels,
# `make test-compilers` against clang's full and scalar builds, `make test-aarch64` against
# the aarch64 build (NEON) under qemu-user; each compares the build's results with the full
# GCC build's, bit for bit. `make check-platforms` checks what can be checked here of the
# macOS and Windows builds.
# `make bench` times the functions against their peers (BENCH_FLAGS=--quick for a check);
# `make bench-levels` times each instruction-set level's build against the level below it;
# `make bench-calls` counts the instructions of short calls in the GCC and the wheel's build.
# `make lint` runs the pre-commit hooks (ruff, clang-format, clang-tidy) over the repository.
# `make dist` builds the wheel and the sdist, then builds and tests the sdist on its own.
# `make wheels` builds the manylinux wheels users install (x86_64 for each CPython here,
# aarch64) and the sdist into wheelhouse/, and tests each wheel as installed;
# `make bench-compilers` then times the wheel's build against the GCC build.

# Any CPython from 3.10 on: `make test PYTHON=python3.11`. By default the first Python 3.12
# that actually runs: a pyenv shim can exist and still fail.
PYTHON ?= $(shell for p in python3.12 $$(pyenv root 2>/dev/null)/versions/3.12*/bin/python3.12; do \
	"$$p" -c 'import sys; assert sys.version_info[:2] == (3, 12)' >/dev/null 2>&1 && { echo "$$p"; break; }; done)
# 3.X, or 3.Xt for a free-threaded CPython: the two never share a venv or a build.
PYTHON_VERSION := $(if $(PYTHON),$(shell $(PYTHON) -c 'import sys, sysconfig; print("%d.%d%s" % \
	(*sys.version_info[:2], "t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))' 2>/dev/null))
CXX ?= g++
CLANGXX ?= clang++

# .venv for Python 3.12, .venv-3.X (or -3.Xt) for another, so that each keeps its build.
VENV := $(if $(filter-out 3.12,$(PYTHON_VERSION)),.venv-$(PYTHON_VERSION),.venv)
VPY := $(VENV)/bin/python
INSTALLED := $(VENV)/.velquin-installed
# The tools of one extra of pyproject.toml (test, demo, bench, lint, dist), installed on
# their own: `$(call extra,test)`.
extra = $(VENV)/.extra-$(1)

SANITIZE_VENV := .venv-sanitize
SANITIZE_VPY := $(SANITIZE_VENV)/bin/python
SANITIZE_INSTALLED := $(SANITIZE_VENV)/.velquin-installed
# The interpreter is not instrumented, so the runtimes must be loaded before it starts.
SANITIZER_RUNTIMES = $(shell $(CXX) -print-file-name=libasan.so):$(shell $(CXX) -print-file-name=libubsan.so)

BUILD_INPUTS := pyproject.toml CMakeLists.txt LICENSE $(shell find cmake src velquin_interp-stubs -type f)
# The package's own build folder, and the build's requirements installed in the venv
# (pyproject.toml's build-system, and CMake and Ninja): builds are not isolated, so that
# the folder stays valid from one build to the next.
BUILD_DIR := build/python-$(PYTHON_VERSION)
BUILD_TOOLS = $(call extra,build-system)

BENCH_FLAGS ?=
PYTEST_ARGS ?=

# Digests of thousands of NaN-heavy calls (tests/bits.py): every build must print the same.
# The full build draws the calls and records them; every other build replays the recording.
# Defined before the rules that name them: a rule's prerequisites are expanded as it is read.
BITS_REFERENCE := build/bits/full.txt
BITS_CALLS := build/bits/calls.pickle

# CPython 3.14 and the free-threaded 3.13t, which this machine's Debian lacks, run in a
# chroot of Debian unstable kept in build/sid (.ci/sid-chroot.sh; needs root).
SID := bash .ci/sid-chroot.sh
SID_CHROOT := build/sid/.chroot
FREE_THREADED := build/sid/.python3.13t
FREE_THREADED_PYTHON := /opt/python3.13t/bin/python3.13t
# NumPy's newest release may have no wheel for 3.13t, whose sources would take long to build;
# free-threaded-constraints.txt holds back what cannot be installed there at all.
FREE_THREADED_PIP := PIP_PREFER_BINARY=1 PIP_CONSTRAINT=packaging/free-threaded-constraints.txt
# `$(MAKE_IN_3.14) target`: this Makefile's target, run in the chroot by that interpreter.
MAKE_IN_3.14 := $(SID) run make PYTHON=python3.14
MAKE_IN_3.13T := $(SID) run env $(FREE_THREADED_PIP) make PYTHON=$(FREE_THREADED_PYTHON)

.PHONY: test demo sanitize test-levels test-compilers test-aarch64 test-3.14 test-3.13t \
	sanitize-threads thread-sanitizer-here check-platforms bench bench-levels bench-compilers bench-calls bench-threads \
	thread-bench-here lint tidy dist wheels clean

# PYTEST_ARGS: pytest's options, for part of the suite (PYTEST_ARGS='-m "not slow"').
test: $(INSTALLED) $(call extra,test)
	$(VPY) -m pytest $(PYTEST_ARGS)

demo: $(INSTALLED) $(call extra,demo)
	$(VPY) examples/demo.py

bench: $(INSTALLED) $(call extra,bench)
	$(VPY) benchmarks/bench.py $(BENCH_FLAGS)

# The full build (the venv's), the AVX2-capped and the scalar build timed side by side,
# each in its own process, highest level first (benchmarks/levels.md).
bench-levels: $(INSTALLED) $(call extra,bench)
	$(call build_lib,levels/x86-64-v3,-C cmake.define.VELQUIN_SIMD=x86-64-v3)
	$(call build_lib,levels/off,-C cmake.define.VELQUIN_SIMD=off)
	$(VPY) benchmarks/bench.py --levels full= x86-64-v3=build/levels/x86-64-v3/lib \
		scalar=build/levels/off/lib $(BENCH_FLAGS)

# The venv's GCC build and the wheel for the venv's Python (zig's clang), side by side in
# one run (benchmarks/compilers.md); `make wheels` first.
bench-compilers: $(INSTALLED) $(call extra,bench)
	rm -rf build/wheels/site-$(PYTHON_VERSION)
	$(VPY) -m pip install -q --no-deps --target build/wheels/site-$(PYTHON_VERSION) \
		wheelhouse/velquin_interp-*-cp$(subst .,,$(PYTHON_VERSION))-*x86_64.whl
	$(VPY) benchmarks/bench.py --compilers gcc= zig=build/wheels/site-$(PYTHON_VERSION) $(BENCH_FLAGS)

# The fixed cost of short calls (benchmarks/calls.md): instructions (callgrind; Debian's
# valgrind) and nanoseconds per call of the venv's GCC build and of the wheel's build (zig's
# clang, made here as `make wheels` makes it), beside numpy.interp and a C-API floor.
ZIG_CXX := build/calls/zig-c++
bench-calls: export ZIG_GLOBAL_CACHE_DIR := $(abspath build/wheels/zig-cache)
bench-calls: $(INSTALLED) $(call extra,bench) $(call extra,wheels)
	@command -v valgrind >/dev/null || { apt-get update -q && apt-get install -y -q valgrind; }
	mkdir -p $(dir $(ZIG_CXX))
	bash packaging/zig-compiler.sh "$$($(VPY) -c 'import os, ziglang; \
		print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')" \
		$$(uname -m)-linux-gnu.2.17 $(ZIG_CXX)
	$(call build_lib,calls/zig,-C cmake.define.CMAKE_CXX_COMPILER=$(abspath $(ZIG_CXX)))
	$(VPY) benchmarks/calls.py gcc= zig=build/calls/zig/lib $(BENCH_FLAGS)

# Runs the hooks on every tracked file, with the venv's tools; see .pre-commit-config.yaml.
lint: $(call extra,lint)
	$(VPY) -m pre_commit run --all-files --show-diff-on-failure

# clang-tidy reads the compile commands of a CMake configure (nothing is compiled), once
# per translation unit: the module and each instruction-set level.
tidy: $(call extra,lint) $(BUILD_TOOLS)
	mkdir -p build/lint
	$(VENV)/bin/cmake -S . -B build/lint -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
		-DPython_EXECUTABLE=$(abspath $(VPY)) -Dpybind11_DIR="$$($(VPY) -m pybind11 --cmakedir)" \
		>build/lint/configure.log || { cat build/lint/configure.log; exit 1; }
	$(VENV)/bin/clang-tidy -p build/lint --quiet src/module.cpp src/level.cpp

# The sdist is unpacked into build/sdist-check and built and tested there by its own
# Makefile, from its own files only, as on a machine that has nothing but the sdist.
dist: $(call extra,dist)
	rm -rf dist build/sdist-check
	$(VPY) -m build --sdist --outdir dist .
	$(VPY) -m pip wheel --no-deps --wheel-dir dist .
	mkdir -p build/sdist-check
	tar -xzf dist/velquin_interp-*.tar.gz -C build/sdist-check
	$(MAKE) -C build/sdist-check/velquin_interp-* test PYTHON=$(PYTHON)

# Needs root for the aarch64 wheel's sysroot and qemu-user, as test-aarch64 does.
wheels: $(BITS_REFERENCE) $(call extra,wheels)
	bash packaging/wheels.sh $(VPY) $(BITS_CALLS) $(BITS_REFERENCE)

# Builds the package with extra pip options into build/$(1)/lib, failing on any compiler
# warning.
define build_lib
	mkdir -p build/$(1)
	$(VPY) -m pip install -v --no-deps --no-build-isolation --upgrade $(2) -C build-dir=build/$(1) \
		--target build/$(1)/lib . >build/$(1).log 2>&1 || { cat build/$(1).log; exit 1; }
	if grep -E "warning:" build/$(1).log; then echo "error: the $(1) build warns" >&2; exit 1; fi
endef

# build_lib, then the suite (but the slow memory tests, which exercise the frame that no
# build changes) against that build, and its digests compared with the full build's.
define check_build
	$(call build_lib,$(1),$(2))
	PYTHONPATH=build/$(1)/lib $(VPY) -m pytest -p no:cacheprovider -m "not slow"
	PYTHONPATH=build/$(1)/lib $(VPY) tests/bits.py --replay $(BITS_CALLS) >build/$(1).bits
	cmp build/$(1).bits $(BITS_REFERENCE) || \
		{ echo "error: the $(1) build's results differ from the full build's" >&2; exit 1; }
endef

$(BITS_REFERENCE): $(INSTALLED) $(call extra,test) tests/bits.py tests/helpers.py
	mkdir -p $(@D)
	$(VPY) tests/bits.py --record $(BITS_CALLS) >$@

# Each capped build goes into its own directory, which shadows the venv's module. Its
# machine code must not use the registers of the levels it leaves out (AVX-512's zmm; for
# the scalar build also AVX's ymm), and the full build's must hold both: the levels were
# built and linked in. Last, a build whose calls all go through pybind11's dispatcher: the
# full build's calls, some of which skip the dispatcher's overload loop, must end exactly as
# its do (tests/test_module.py).
test-levels: $(INSTALLED) $(call extra,test) $(BITS_REFERENCE)
	objdump -d "$$($(VPY) -c 'import velquin_interp; print(velquin_interp.__file__)')" \
		>build/full.dis
	grep -qE '%ymm' build/full.dis && grep -qE '%zmm' build/full.dis || \
		{ echo "error: the full build lacks the code of a level" >&2; exit 1; }
	$(call check_build,levels/x86-64-v3,-C cmake.define.VELQUIN_SIMD=x86-64-v3)
	! objdump -d build/levels/x86-64-v3/lib/velquin_interp*.so | grep -qE '%zmm' || \
		{ echo "error: the x86-64-v3 build uses zmm registers" >&2; exit 1; }
	$(call check_build,levels/off,-C cmake.define.VELQUIN_SIMD=off)
	! objdump -d build/levels/off/lib/velquin_interp*.so | grep -qE '%[yz]mm' || \
		{ echo "error: the scalar build uses ymm or zmm registers" >&2; exit 1; }
	$(call build_lib,dispatcher,-C cmake.define.VELQUIN_SHORTCUT=OFF -C cmake.define.VELQUIN_SIMD=off)
	VELQUIN_DISPATCHER_BUILD=build/dispatcher/lib $(VPY) -m pytest -p no:cacheprovider \
		tests/test_module.py -k shortcut

# The suite on CPython 3.14 (Debian's), and on the free-threaded 3.13t without the GIL.
test-3.14: $(SID_CHROOT)
	$(MAKE_IN_3.14) test

test-3.13t: $(FREE_THREADED)
	$(MAKE_IN_3.13T) test

# The thread tests under ThreadSanitizer, on 3.13t without the GIL: the module built with
# -fsanitize=thread, the runtime preloaded into the uninstrumented interpreter. Any report
# whose racing access lies in the module's code fails; .ci/tsan-check.py names the others.
# RelWithDebInfo (NDEBUG too) and an unstripped module, so that reports name its lines.
sanitize-threads: $(FREE_THREADED)
	$(MAKE_IN_3.13T) thread-sanitizer-here

# sanitize-threads, inside the chroot.
thread-sanitizer-here: $(INSTALLED) $(call extra,test)
	$(call build_lib,tsan-$(PYTHON_VERSION),-C cmake.define.VELQUIN_THREAD_SANITIZER=ON \
		-C cmake.build-type=RelWithDebInfo -C install.strip=false)
	rm -rf build/tsan-$(PYTHON_VERSION)/reports && mkdir -p build/tsan-$(PYTHON_VERSION)/reports
	PYTHONPATH=build/tsan-$(PYTHON_VERSION)/lib LD_PRELOAD=$(shell $(CXX) -print-file-name=libtsan.so) \
		TSAN_OPTIONS="log_path=$(abspath build/tsan-$(PYTHON_VERSION)/reports/tsan) exitcode=0" \
		$(VPY) -m pytest -p no:cacheprovider tests/test_threads.py
	$(VPY) .ci/tsan-check.py build/tsan-$(PYTHON_VERSION)/reports

$(SID_CHROOT):
	$(SID) chroot

$(FREE_THREADED): $(SID_CHROOT)
	$(SID) free-threaded

# N threads calling at once against one thread (benchmarks/threads.md): on CPython 3.14,
# whose calls take turns under the GIL, and on 3.13t, whose calls run at once.
bench-threads: $(FREE_THREADED)
	rm -rf build/threads
	$(MAKE_IN_3.14) thread-bench-here
	$(MAKE_IN_3.13T) thread-bench-here
	$(SID) run .venv-3.14/bin/python benchmarks/threads.py table $(BENCH_FLAGS)

# bench-threads' measurement, inside the chroot.
thread-bench-here: $(INSTALLED) $(call extra,test)
	$(VPY) benchmarks/threads.py measure $(BENCH_FLAGS)

# The full and the scalar build with clang (Debian's clang++; `apt-get install clang`).
test-compilers: $(INSTALLED) $(call extra,test) $(BITS_REFERENCE)
	@command -v $(CLANGXX) >/dev/null || { echo "error: $(CLANGXX) not found" >&2; exit 1; }
	$(call check_build,clang/full,-C cmake.define.CMAKE_CXX_COMPILER=$(CLANGXX))
	$(call check_build,clang/off,-C cmake.define.CMAKE_CXX_COMPILER=$(CLANGXX) \
		-C cmake.define.VELQUIN_SIMD=off)

# The aarch64 build (NEON level) cross-compiled and run under qemu-user: the suite, and the
# recorded bit-check calls against the full build's digests (.ci/aarch64-check.sh; needs
# root for apt-get and binfmt_misc).
test-aarch64: $(INSTALLED) $(call extra,test) $(BITS_REFERENCE)
	HOST_PYTHON=$(VPY) bash .ci/aarch64-check.sh . $(BITS_CALLS) $(BITS_REFERENCE)

# Builds for platforms this machine does not run, as far as they can be checked here:
# level choice per target, clang -pedantic-errors, MinGW-w64 (.ci/platforms-check.sh).
check-platforms: $(VPY) $(call extra,wheels)
	bash .ci/platforms-check.sh $(VPY)

# Leak detection stays off: the interpreter keeps objects alive until exit by design. A
# failed allocation returns null, as without the sanitizer, so that it raises MemoryError
# instead of aborting the process.
# --capture=sys leaves file descriptor 2 alone, so a sanitizer report that aborts the run
# reaches the terminal instead of dying with pytest's captured output.
sanitize: $(SANITIZE_INSTALLED)
	VELQUIN_SANITIZE=1 LD_PRELOAD="$(SANITIZER_RUNTIMES)" ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
	UBSAN_OPTIONS=print_stacktrace=1 $(SANITIZE_VPY) -m pytest -p no:cacheprovider --capture=sys

# pip from 23.1 on takes the -C options of the builds below.
$(VPY) $(SANITIZE_VPY):
	@test -n "$(PYTHON_VERSION)" || { echo "error: no working python3.12 found (set PYTHON=...)" >&2; exit 1; }
	$(PYTHON) -m venv $(dir $(@D))
	$@ -m pip install -q --disable-pip-version-check --upgrade 'pip>=23.1'

# The build must print no compiler warning. README.md is the package's description in its
# metadata: a change to it reinstalls the package, and compiles nothing.
$(INSTALLED): $(BUILD_TOOLS) $(BUILD_INPUTS) README.md
	mkdir -p build
	$(VPY) -m pip install -v --no-build-isolation -C build-dir=$(BUILD_DIR) . \
		>$(BUILD_DIR).log 2>&1 || { cat $(BUILD_DIR).log; exit 1; }
	if grep -E "warning:" $(BUILD_DIR).log; then echo "error: the build warns" >&2; exit 1; fi
	touch $@

# An extra's requirements, read from pyproject.toml, without building the package again
# (tomli before Python 3.11); `build-system` gives those of the build itself.
$(VENV)/.extra-%: $(VPY) pyproject.toml
	$(VPY) -c 'import tomllib' 2>/dev/null || $(VPY) -m pip install -q tomli
	$(VPY) packaging/extra.py $* >$@.txt
	$(VPY) -m pip install -r $@.txt
	touch $@

$(SANITIZE_INSTALLED): $(SANITIZE_VPY) $(BUILD_INPUTS)
	$(SANITIZE_VPY) -m pip install -C cmake.define.VELQUIN_SANITIZE=ON \
		-C build-dir=build/sanitize '.[test]'
	touch $@

clean:
	rm -rf .venv .venv-* build dist wheelhouse demo.png
