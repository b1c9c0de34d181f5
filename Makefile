# Two entry points: `make demo` builds kip and runs its demo; `make test` builds and runs the
# whole test suite. Both install missing Debian packages first. CMAKE_ARGS passes options on.
BUILD ?= build
# The nested makes of the CMake build need not announce every folder they enter.
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: deps configure demo test clean

deps:
	@scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target kipf
	$(BUILD)/tools/kipf demo

test: configure
	cmake --build $(BUILD) -j $(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
