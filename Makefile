# The commands users type. Everything else is CMake presets (CMakePresets.json).
.PHONY: all deps build run demo test test-dev test-asan test-fuzz test-vm bench bench-vm fuzz format install package clean check-deps check-function-length

# The processor count: getconf answers on Linux and macOS alike (macOS has no nproc).
JOBS ?= $(shell getconf _NPROCESSORS_ONLN 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
ARGS ?=

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)

run: build
	@scripts/run-app $(ARGS)

# The application on a simulated world with sample keyboards and mappings, in a
# scratch folder: nothing needs a readable keyboard or a permission.
demo: build
	@scripts/run-app --demo $(ARGS)

test: deps
	@scripts/check-deps
	@scripts/check-function-length
	$(MAKE) --no-print-directory test-dev
	$(MAKE) --no-print-directory test-asan
	$(MAKE) --no-print-directory test-fuzz
	$(MAKE) --no-print-directory test-vm

# Libraries depend only on the layers below them (docs/architecture.md).
check-deps:
	@scripts/check-deps

# No function of src/ is longer than 80 lines; longer ones are split into
# named steps.
check-function-length:
	@scripts/check-function-length

test-dev:
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)
	ctest --preset dev -j $(JOBS)

test-asan:
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# A short, bounded run of every fuzz target over its seed corpus (needs clang),
# two at a time, built in the sanitizer tree that test-asan has built.
test-fuzz:
	@FUZZ_PRESET=asan scripts/fuzz-smoke 15

fuzz:
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	@echo "fuzz targets are in build/fuzz/fuzz/"

# Random walks of the engine on the simulated world, 10 million steps with
# random seeds in every mode (minutes; not part of make test). Prints the seed
# of any failing walk and the script it shrinks to, which chordwellctl
# simulate replays. SOAK_ARGS="--steps N --every-mode 0" and so on.
SOAK_ARGS ?=
soak: deps
	cmake --preset release
	cmake --build --preset release --target chordwell_walk_soak -j $(JOBS)
	build/release/tests/walk/chordwell_walk_soak --steps 10000000 $(SOAK_ARGS)

# Real-kernel test of the Linux backend in a small QEMU VM (skipped without qemu).
test-vm:
	@if [ -x scripts/test-vm ]; then scripts/test-vm; else echo "test-vm: not available"; fi

bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	@for b in build/release/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# The Debian package (Linux) or Chordwell.dmg (macOS) of a build preset, in
# build/<preset>/packages/. The dev build is what `make test` checks; pass
# PACKAGE_PRESET=release for an optimised package.
PACKAGE_PRESET ?= dev
package: deps
	cmake --preset $(PACKAGE_PRESET)
	cmake --build --preset $(PACKAGE_PRESET) -j $(JOBS)
	cd build/$(PACKAGE_PRESET) && cpack -B packages

# Key latency in the VM of test-vm, beside interception-tools (not part of test).
bench-vm:
	@CHORDWELL_BENCH_DEPS=1 scripts/install-deps
	@scripts/bench-vm

format:
	@git ls-files '*.cpp' '*.hpp' '*.h' '*.mm' | xargs clang-format -i

# Installs what `make build` produced (run `make build` first as yourself, then
# `sudo make install`), so that nothing in build/ ends up owned by root.
install:
	@scripts/install-linux

clean:
	rm -rf build
