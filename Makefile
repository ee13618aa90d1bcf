# SPDX-License-Identifier: GPL-3.0-or-later
# The two commands a new user needs: `make run` and `make test`. Both install what is missing first.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ_SEED ?= 0
# A new tree is made with Ninja; one made before with another generator keeps it.
GENERATOR = $(if $(wildcard $(BUILD_DIR)/CMakeCache.txt),,-G Ninja)
# Both trees are unity builds: each library and test compiles as a few large files, so the Qt headers are parsed far
# fewer times and a fresh tree takes a third to two fifths less CPU. A plain `cmake -B` still compiles files alone.

.PHONY: all deps configure build run demo package fresh-check test sanitize asan-tree tsan tsan-tree fuzz soak bench screenshots clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD=ON >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@scripts/run $(BUILD_DIR)

demo: build
	@scripts/run --demo $(BUILD_DIR)

# A Debian package of the application: $(BUILD_DIR)/pellisor_<version>_<arch>.deb
package: build
	@cmake --build $(BUILD_DIR) --target package

# A minimal Debian 12 (debootstrap), git and make only, this repository's HEAD cloned into it, the README's two
# commands run in it: proves that scripts/install-deps misses nothing. Root, the network and half an hour.
fresh-check:
	@scripts/fresh-check

# The ordinary suite, the same suite under the sanitizers, the threaded suites under the race detector, every fuzz
# corpus replayed, then each fuzz target for 10 s from a fixed seed: it tries what it tried before, so it fails when a
# change breaks something, never because this run wandered somewhere new. The X11 screenshots are left to
# `make screenshots`.
test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j 2 -LE x11
	@$(MAKE) --no-print-directory sanitize
	@$(MAKE) --no-print-directory tsan
	@fuzz/run-fuzzers build-asan replay
	@fuzz/run-fuzzers build-asan 10 2 1

# build-asan/: the project, its tests and the fuzz targets, by clang with AddressSanitizer, LeakSanitizer,
# UndefinedBehaviorSanitizer and libFuzzer's coverage hooks, with line tables only (all the reports need). A tree left
# by an older layout (another generator) goes.
asan-tree: deps
	@grep -qs 'CMAKE_GENERATOR:INTERNAL=Ninja' build-asan/CMakeCache.txt || rm -rf build-asan
	@cmake --preset asan >/dev/null

# The whole test suite under the sanitizers.
sanitize: asan-tree
	@cmake --build --preset asan -j $(JOBS)
	@ctest --preset asan

# build-tsan/: the project and its tests by clang with ThreadSanitizer and the plain POSIX fallbacks, so those are
# built and tested too while build-asan/ runs the Linux calls. Its suite is the plist, library and HTTP tests (CTest
# label `tsan`): the ones whose code runs on more than one thread.
tsan-tree: deps
	@cmake --preset tsan >/dev/null

tsan: tsan-tree
	@cmake --build --preset tsan -j $(JOBS)
	@ctest --preset tsan

# New exploration: each fuzz target for FUZZ_SECONDS over its corpus; FUZZ_SEED 0 picks a fresh seed each run.
fuzz: asan-tree
	@cmake --build --preset fuzz -j $(JOBS)
	@fuzz/run-fuzzers build-asan $(FUZZ_SECONDS) 2 $(FUZZ_SEED)

# 50 clients and 20,000 mixed requests against the real executable; a few minutes, so not part of `make test`.
soak: build
	@$(CXX) -std=c++20 -O2 -Wall -Wextra -pthread bench/soak.cpp -o $(BUILD_DIR)/soak
	@$(BUILD_DIR)/soak $(BUILD_DIR)/pellisor

# Performance: micro-benchmarks and the real executable under load (build-bench/), one table of targets and figures;
# downloads are measured beside nginx, run by the driver as a process of its own.
bench:
	@scripts/install-deps wrk gnuplot-nox libbenchmark-dev nginx-light
	@bench/run-bench

# The window and the address alert drawn on a virtual X display, copied to docs/screenshots/ for the README.
screenshots: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -L x11
	@cp $(BUILD_DIR)/tests/app/screenshots/window.png $(BUILD_DIR)/tests/app/screenshots/alert.png docs/screenshots/

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan build-fuzz
