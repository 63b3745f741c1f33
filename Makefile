# The commands users type. Everything else is CMake presets (CMakePresets.json).
.PHONY: all deps build run test test-dev test-asan test-fuzz test-vm bench bench-vm fuzz format install package clean

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
ARGS ?=

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)

run: build
	@scripts/run-app $(ARGS)

test: deps
	$(MAKE) --no-print-directory test-dev
	$(MAKE) --no-print-directory test-asan
	$(MAKE) --no-print-directory test-fuzz
	$(MAKE) --no-print-directory test-vm

test-dev:
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)
	ctest --preset dev -j $(JOBS)

test-asan:
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# A short, bounded run of every fuzz target over its seed corpus (needs clang).
test-fuzz:
	@scripts/fuzz-smoke 20

fuzz:
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	@echo "fuzz targets are in build/fuzz/fuzz/"

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
