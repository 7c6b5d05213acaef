# Set-up commands: `make test` and `make demo` each build everything they need from a
# clean clone. The package is reinstalled whenever a build input changes.

# The first Python 3.12 that actually runs: a pyenv shim can exist and still fail.
PYTHON ?= $(shell for p in python3.12 $$(pyenv root 2>/dev/null)/versions/3.12*/bin/python3.12; do \
	"$$p" -c 'import sys; assert sys.version_info[:2] == (3, 12)' >/dev/null 2>&1 && { echo "$$p"; break; }; done)

VENV := .venv
VPY := $(VENV)/bin/python
INSTALLED := $(VENV)/.velquin-installed
BUILD_INPUTS := pyproject.toml CMakeLists.txt README.md $(shell find src -type f)

.PHONY: test demo clean

test: $(INSTALLED)
	$(VPY) -m pytest

demo: $(INSTALLED)
	$(VPY) examples/demo.py

$(VPY):
	@test -n "$(PYTHON)" || { echo "error: no working python3.12 found (set PYTHON=...)" >&2; exit 1; }
	$(PYTHON) -m venv $(VENV)

$(INSTALLED): $(VPY) $(BUILD_INPUTS)
	$(VPY) -m pip install '.[test,demo]'
	touch $@

clean:
	rm -rf $(VENV) build dist demo.png
