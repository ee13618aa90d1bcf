# The two commands a new user needs: `make run` and `make test`. Both install what is missing first.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run demo test clean

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

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j 2

clean:
	rm -rf $(BUILD_DIR)
