# Set-up commands: `make test` and `make demo` each build everything they need from a
# clean clone. The package is reinstalled whenever a build input changes.
# `make sanitize` runs the same tests against a build checked by ASan and UBSan.

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

BUILD_INPUTS := pyproject.toml CMakeLists.txt README.md $(shell find src -type f)

.PHONY: test demo sanitize clean

test: $(INSTALLED)
	$(VPY) -m pytest

demo: $(INSTALLED)
	$(VPY) examples/demo.py

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
	$(VPY) -m pip install '.[test,demo]'
	touch $@

$(SANITIZE_INSTALLED): $(SANITIZE_VPY) $(BUILD_INPUTS)
	$(SANITIZE_VPY) -m pip install -C cmake.define.VELQUIN_SANITIZE=ON \
		-C build-dir=build/sanitize '.[test]'
	touch $@

clean:
	rm -rf $(VENV) $(SANITIZE_VENV) build dist demo.png
