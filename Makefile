# Thin layer over CMake. ./dev.sh installs the Debian packages and calls these.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
WIN_BUILD  ?= build-windows
JOBS       ?= $(shell nproc)
# Tests run two to a core: most of their time goes in waiting on the
# emulator's line and the link's time-outs, not on the processor. (Built with
# the sanitizers they run two or three times slower, too slow for the
# link's time-outs at that pace: they run one to a core.)
TEST_JOBS  ?= $(shell expr 2 \* $(JOBS))
FUZZ_SECONDS ?= 30
SOAK_RUNS  ?= 20
DAMAGE_CASES ?= 800
FUZZ_MINUTES ?= 10
FUZZ_TARGETS ?=

.PHONY: all build run test unit-tests soak soak-long damage-soak damage-soak-long format-check package package-check package-install-check sanitizer-tests fuzz fuzz-long windows windows-tests bench clean

all: build

build:
	cmake -S . -B $(BUILD) -G Ninja -DTOLV_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-program $(BUILD)

test: format-check unit-tests soak damage-soak package-check sanitizer-tests fuzz windows-tests

unit-tests: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(TEST_JOBS)

# Every C and C++ source as clang-format lays it out (scripts/check-format
# --fix formats them).
format-check:
	scripts/check-format

# A short fault soak (about 20 transfers, under two minutes): downloads and
# uploads against the emulator with faults drawn at random. Fails on any
# silent corruption, false success, unclean failure, crash or hang.
soak: build
	scripts/soak $(BUILD) --runs $(SOAK_RUNS)

# The long soak of the README's table (500 transfers, two at once, longer
# data on the paced lines, twice the faults); about a quarter of an hour.
soak-long: build
	nice scripts/soak $(BUILD) --runs 500 --jobs 2 --line-seconds 8 --max-faults 16

# A short damage soak (800 cases, about a minute): files of every form
# damaged and loaded again. Fails on any silent difference from the known
# image, or where info and verify judge a file otherwise than the load.
damage-soak: build
	scripts/damage-soak $(BUILD) --cases $(DAMAGE_CASES)

# The long damage soak of the README's table (20,000 cases).
damage-soak-long: build
	nice scripts/damage-soak $(BUILD) --cases 20000

# The Debian package $(BUILD)/tolvpack_VERSION_ARCH.deb: only what it holds
# is built (the programs, manual pages and changelog), not the tests.
package:
	cmake -S . -B $(BUILD) -G Ninja -DTOLV_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS) --target tolv_package_contents
	cd $(BUILD) && cpack -G DEB

# lintian, the desktop entry, AppStream description and manual pages, and the
# programs of the unpacked package.
package-check: package
	scripts/check-package $(BUILD)

# The package installed, used and removed on a fresh Debian 12 made by
# debootstrap (root and the network; not part of test).
package-install-check: package
	scripts/check-package-install $(BUILD)

# The library and window-logic tests again, built with ASan and UBSan.
sanitizer-tests:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DTOLV_SANITIZE=ON -DTOLV_WERROR=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) -L lib --output-on-failure -j $(JOBS)

# Every fuzz target for a bounded time (skipped without clang), from the
# corpora and seeds under fuzz/.
fuzz:
	scripts/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS)

# tolv.exe and the window TolvPack.exe for 64-bit Windows, cross-built with
# mingw-w64, statically linked and stripped, with the installer
# (tolvpack-VERSION-x64.msi) and the portable zip beside them. -O2: the -O3 of GCC 12 raises false -Wrestrict alarms in
# std::string code.
WIN_CONFIGURE = cmake -S . -B $(WIN_BUILD) -G Ninja -DTOLV_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
	"-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s \
	-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake

windows:
	$(WIN_CONFIGURE)
	cmake --build $(WIN_BUILD) -j $(JOBS) --target tolv TolvPack windows_packages

# The library, CLI and window tests as Windows programs under Wine (the
# window on a virtual screen), the COM-port round trips of tolv.exe and of the
# window against the Linux tolv and toppy-sim, and the installer.
windows-tests: build
	$(WIN_CONFIGURE) -DTOLV_HOST_BIN_DIR=$(abspath $(BUILD))/bin
	cmake --build $(WIN_BUILD) -j $(JOBS)
	scripts/windows-tests $(WIN_BUILD)

# Every fuzz target (or those of FUZZ_TARGETS) for FUZZ_MINUTES each, one
# after another under nice; what they find that adds coverage is merged into
# fuzz/corpus/ (./dev.sh fuzz).
fuzz-long:
	nice scripts/run-fuzzers $(FUZZ_BUILD) $$(( $(FUZZ_MINUTES) * 60 )) --merge $(FUZZ_TARGETS)

bench: build
	@ls $(BUILD)/bin/bench_* 2>/dev/null

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD)
