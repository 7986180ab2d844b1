# Two entry points: `make demo` (the main job) and `make test` (build
# everything and run every test). Both install what they need on a fresh
# machine.

BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_WERROR=ON

.PHONY: test cpp-test deps

test: cpp-test

cpp-test: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# GoogleTest comes from Debian's libgtest-dev; installed here when missing.
deps:
	@tools/ensure-deps.sh
