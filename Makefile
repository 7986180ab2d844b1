# Two entry points: `make demo` (the main job) and `make test` (build
# everything and run every test). Both install what they need on a fresh
# machine.

BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_WERROR=ON

# The Python side: a virtual environment with the module installed into it.
PYTHON ?= python3
VENV ?= .venv
VENV_PYTHON = $(VENV)/bin/python
# pip builds the module here, so repeated installs rebuild incrementally.
WHEEL_BUILD ?= build-wheel
BUILD_DEPS = scikit-build-core numpy
# sympy's LaTeX parser needs the ANTLR runtime of the version it was generated with.
TEST_DEPS = pytest sympy 'antlr4-python3-runtime==4.11.*' mypy

.PHONY: test cpp-test python-test install demo deps

test: cpp-test python-test

cpp-test: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

python-test: install $(VENV)/.test-deps
	$(VENV_PYTHON) -m pytest tests/python

demo: install
	$(VENV_PYTHON) examples/quickstart.py

# Builds the extension against the environment's own NumPy (no isolated
# build environment).
install: deps $(VENV)/.build-deps
	$(VENV_PYTHON) -m pip install --quiet --no-build-isolation --config-settings=build-dir=$(WHEEL_BUILD) ./

$(VENV_PYTHON):
	$(PYTHON) -m venv $(VENV)

$(VENV)/.build-deps: $(VENV_PYTHON) Makefile
	$(VENV_PYTHON) -m pip install --quiet $(BUILD_DEPS)
	touch $@

$(VENV)/.test-deps: $(VENV_PYTHON) Makefile
	$(VENV_PYTHON) -m pip install --quiet $(TEST_DEPS)
	touch $@

# GoogleTest comes from Debian's libgtest-dev; installed here when missing.
deps:
	@tools/ensure-deps.sh
