# Two entry points: `make demo` (the main job) and `make test` (check that
# the tests keep to their share of the code and the C++ its format, build
# everything and run every test, then run both suites again under
# AddressSanitizer and UndefinedBehaviorSanitizer). Both install what they
# need on a fresh machine. `make format` applies the C++ format.

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
# Extra pip arguments for building the module (used by sanitize).
WHEEL_SETTINGS ?=

# The sanitizer run: its own build directories and virtual environment.
SANITIZE ?= address,undefined,float-cast-overflow
ASAN_BUILD ?= build-asan
ASAN_VENV ?= .venv-asan
ASAN_WHEEL_BUILD ?= build-wheel-asan

.PHONY: test test-share format format-check cpp-test python-test install demo deps sanitize

test: test-share format-check cpp-test python-test sanitize

test-share:
	$(PYTHON) tools/test-share.py

CXX_SOURCES = $(shell git ls-files '*.cpp' '*.hpp')

format: $(VENV)/.test-deps
	$(VENV)/bin/clang-format -i $(CXX_SOURCES)

format-check: $(VENV)/.test-deps
	@$(VENV)/bin/clang-format --dry-run -Werror $(CXX_SOURCES)

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
	$(VENV_PYTHON) -m pip install --quiet --no-build-isolation --config-settings=build-dir=$(WHEEL_BUILD) $(WHEEL_SETTINGS) ./

# The C++ tests and the module built with the sanitizers, then both suites run
# with them; the first report fails the run (see tools/sanitized-run.sh).
sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja $(CMAKE_FLAGS) -DKIV_SANITIZE=$(SANITIZE)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	$(MAKE) install $(ASAN_VENV)/.test-deps VENV=$(ASAN_VENV) WHEEL_BUILD=$(ASAN_WHEEL_BUILD) \
		WHEEL_SETTINGS="--config-settings=cmake.build-type=RelWithDebInfo --config-settings=cmake.define.KIV_SANITIZE=$(SANITIZE)"
	tools/sanitized-run.sh ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)
	tools/sanitized-run.sh --python $(ASAN_VENV)/bin/python -m pytest tests/python

$(VENV_PYTHON):
	$(PYTHON) -m venv $(VENV)

$(VENV)/.build-deps: $(VENV_PYTHON) Makefile
	$(VENV_PYTHON) -m pip install --quiet $(BUILD_DEPS)
	touch $@

$(VENV)/.test-deps: $(VENV_PYTHON) Makefile pyproject.toml
	$(PYTHON) tools/extra-requirements.py test | xargs $(VENV_PYTHON) -m pip install --quiet
	touch $@

# GoogleTest comes from Debian's libgtest-dev; installed here when missing.
deps:
	@tools/ensure-deps.sh
