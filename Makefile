# Thin layer over CMake. ./dev.sh installs the Debian packages and calls these.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 30

.PHONY: all build run test unit-tests package package-check sanitizer-tests fuzz bench clean

all: build

build:
	cmake -S . -B $(BUILD) -G Ninja -DTOLV_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-program $(BUILD)

test: unit-tests package-check sanitizer-tests fuzz

unit-tests: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The Debian package $(BUILD)/tolvpack_VERSION_ARCH.deb, from the programs of
# the build above (nothing is compiled again).
package: build
	cd $(BUILD) && cpack -G DEB

# lintian, the desktop entry, AppStream description and manual pages, and the
# programs of the unpacked package.
package-check: package
	scripts/check-package $(BUILD)

# The library and window-logic tests again, built with ASan and UBSan.
sanitizer-tests:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DTOLV_SANITIZE=ON -DTOLV_WERROR=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) -L lib --output-on-failure -j $(JOBS)

# Every fuzz target for a bounded time (skipped without clang).
fuzz:
	scripts/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	@ls $(BUILD)/bin/bench_* 2>/dev/null

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
