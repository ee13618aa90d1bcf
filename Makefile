# The two commands a new user needs: `make run` and `make test`. Both install what is missing first.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ_SEED ?= 0

.PHONY: all deps configure build run demo package test sanitize fuzz soak bench clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@scripts/run $(BUILD_DIR)

demo: build
	@scripts/run --demo $(BUILD_DIR)

# A Debian package of the application: $(BUILD_DIR)/pellisor_<version>_<arch>.deb
package: build
	@cmake --build $(BUILD_DIR) --target package

# The tests of the ordinary build, then all of them again under the sanitizers, then every fuzz target.
test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j 2
	@$(MAKE) --no-print-directory sanitize
	@$(MAKE) --no-print-directory fuzz FUZZ_SEED=1

# The whole test suite built with AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer (build-asan/).
sanitize: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	@ctest --preset asan

# Each fuzz target for FUZZ_SECONDS over its corpus, built by clang with libFuzzer (build-fuzz/); fails on a crash.
# FUZZ_SEED 0 explores afresh each run; `make test` starts from a fixed one, so that it tries what it tried
# before and fails only when a change breaks something, never because this run wandered somewhere new.
fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@fuzz/run-fuzzers build-fuzz $(FUZZ_SECONDS) 2 $(FUZZ_SEED)

# 50 clients and 20,000 mixed requests against the real executable; a few minutes, so not part of `make test`.
soak: build
	@$(CXX) -std=c++20 -O2 -Wall -Wextra -pthread bench/soak.cpp -o $(BUILD_DIR)/soak
	@$(BUILD_DIR)/soak $(BUILD_DIR)/pellisor

# Performance: micro-benchmarks and the real executable under load (build-bench/), one table of targets and figures.
bench:
	@scripts/install-deps wrk gnuplot-nox libbenchmark-dev
	@bench/run-bench

clean:
	rm -rf $(BUILD_DIR)
