# Set-up commands: `make test` and `make demo` each build everything they need from a
# clean clone. The package is reinstalled whenever a build input changes.
# `make sanitize` runs the same tests against a build checked by ASan and UBSan.
# `make test-levels` runs them against builds capped at AVX2 and at the scalar kernels.
# `make bench` times the functions against their peers (BENCH_FLAGS=--quick for a check).
# `make lint` runs the pre-commit hooks (ruff, clang-format, clang-tidy) over the repository.
# `make dist` builds the wheel and the sdist, then builds and tests the sdist on its own.

# The first Python 3.12 that actually runs: a pyenv shim can exist and still fail.
PYTHON ?= $(shell for p in python3.12 $$(pyenv root 2>/dev/null)/versions/3.12*/bin/python3.12; do \
	"$$p" -c 'import sys; assert sys.version_info[:2] == (3, 12)' >/dev/null 2>&1 && { echo "$$p"; break; }; done)
CXX ?= g++

VENV := .venv
VPY := $(VENV)/bin/python
INSTALLED := $(VENV)/.velquin-installed

SANITIZE_VENV := .venv-sanitize
SANITIZE_VPY := $(SANITIZE_VENV)/bin/python
SANITIZE_INSTALLED := $(SANITIZE_VENV)/.velquin-installed
# The interpreter is not instrumented, so the runtimes must be loaded before it starts.
SANITIZER_RUNTIMES = $(shell $(CXX) -print-file-name=libasan.so):$(shell $(CXX) -print-file-name=libubsan.so)

BUILD_INPUTS := pyproject.toml CMakeLists.txt README.md LICENSE $(shell find src velquin_interp-stubs -type f)

# Builds whose vectorised kernels stop at a lower level, tested beside the full build.
CAPPED_LEVELS := x86-64-v3 off
BENCH_FLAGS ?=

.PHONY: test demo sanitize test-levels bench lint tidy dist clean

test: $(INSTALLED)
	$(VPY) -m pytest

demo: $(INSTALLED)
	$(VPY) examples/demo.py

bench: $(INSTALLED)
	$(VPY) benchmarks/bench.py $(BENCH_FLAGS)

# Runs the hooks on every tracked file, with the venv's tools; see .pre-commit-config.yaml.
lint: $(INSTALLED)
	$(VPY) -m pre_commit run --all-files --show-diff-on-failure

# clang-tidy reads the compile commands of a CMake configure (nothing is compiled), once
# per translation unit: the module and each instruction-set level.
tidy: $(INSTALLED)
	mkdir -p build/lint
	$(VENV)/bin/cmake -S . -B build/lint -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
		-DPython_EXECUTABLE=$(abspath $(VPY)) -Dpybind11_DIR="$$($(VPY) -m pybind11 --cmakedir)" \
		>build/lint/configure.log || { cat build/lint/configure.log; exit 1; }
	$(VENV)/bin/clang-tidy -p build/lint --quiet src/module.cpp src/level.cpp

# The sdist is unpacked into build/sdist-check and built and tested there by its own
# Makefile, from its own files only, as on a machine that has nothing but the sdist.
dist: $(INSTALLED)
	rm -rf dist build/sdist-check
	$(VPY) -m build --sdist --outdir dist .
	$(VPY) -m pip wheel --no-deps --wheel-dir dist .
	mkdir -p build/sdist-check
	tar -xzf dist/velquin_interp-*.tar.gz -C build/sdist-check
	$(MAKE) -C build/sdist-check/velquin_interp-* test PYTHON=$(PYTHON)

# Each capped build goes into its own directory, which shadows the venv's module. Its
# machine code must not use the registers of the levels it leaves out (AVX-512's zmm; for
# the scalar build also AVX's ymm). The slow memory tests exercise the frame, which no
# level changes, and run in `make test` only.
test-levels: $(INSTALLED)
	for level in $(CAPPED_LEVELS); do \
		lib=build/levels/$$level/lib; \
		case $$level in off) left_out='%[yz]mm';; *) left_out='%zmm';; esac; \
		$(VPY) -m pip install --no-deps --upgrade -C cmake.define.VELQUIN_SIMD=$$level \
			-C build-dir=build/levels/$$level --target $$lib . || exit 1; \
		if objdump -d $$lib/velquin_interp*.so | grep -qE "$$left_out"; then \
			echo "error: the $$level build uses $$left_out registers" >&2; exit 1; fi; \
		PYTHONPATH=$$lib $(VPY) -m pytest -p no:cacheprovider -m "not slow" || exit 1; \
	done

# Leak detection stays off: the interpreter keeps objects alive until exit by design.
# --capture=sys leaves file descriptor 2 alone, so a sanitizer report that aborts the run
# reaches the terminal instead of dying with pytest's captured output.
sanitize: $(SANITIZE_INSTALLED)
	VELQUIN_SANITIZE=1 LD_PRELOAD="$(SANITIZER_RUNTIMES)" ASAN_OPTIONS=detect_leaks=0 \
	UBSAN_OPTIONS=print_stacktrace=1 $(SANITIZE_VPY) -m pytest -p no:cacheprovider --capture=sys

$(VPY) $(SANITIZE_VPY):
	@test -n "$(PYTHON)" || { echo "error: no working python3.12 found (set PYTHON=...)" >&2; exit 1; }
	$(PYTHON) -m venv $(dir $(@D))

$(INSTALLED): $(VPY) $(BUILD_INPUTS)
	$(VPY) -m pip install '.[test,demo,bench,lint,dist]'
	touch $@

$(SANITIZE_INSTALLED): $(SANITIZE_VPY) $(BUILD_INPUTS)
	$(SANITIZE_VPY) -m pip install -C cmake.define.VELQUIN_SANITIZE=ON \
		-C build-dir=build/sanitize '.[test]'
	touch $@

clean:
	rm -rf $(VENV) $(SANITIZE_VENV) build dist demo.png
