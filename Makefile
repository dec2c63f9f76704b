# make run: install what is missing, build, start the embedded game.
# make test: install what is missing, build with the tests, run every test (a failed one once more: the timing
# tests of a loaded machine).
# make bench: install what is missing, build the benchmarks, run them all.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_EXTRA ?=
JOBS ?= $(shell nproc)
# What build installs and configures: the runtime's packages only (run), or the tests' too (test).
DEPS ?= test
TESTS ?= ON
ROOT := $(patsubst %/,%,$(dir $(abspath $(lastword $(MAKEFILE_LIST)))))

.PHONY: deps build run test bench clean

deps:
	@bash tools/install-deps.sh $(DEPS)

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DKIV_TESTS=$(TESTS) $(CMAKE_EXTRA) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

run: DEPS = run
run: TESTS = OFF
run: build
	@bash tools/run.sh $(BUILD)

test: DEPS = test
test: TESTS = ON
test: build
	@cd $(BUILD) && ctest --output-on-failure --timeout 300 --repeat until-pass:2 -j$(JOBS)

bench:
	@bash $(ROOT)/tools/install-deps.sh bench
	@cmake -S $(ROOT) -B $(ROOT)/build-bench -DCMAKE_BUILD_TYPE=Release -DKIV_TESTS=OFF -DKIV_BENCH=ON >/dev/null
	@cmake --build $(ROOT)/build-bench -j$(JOBS)
	@bash $(ROOT)/bench/run.sh $(ROOT)/build-bench

clean:
	rm -rf build build-asan build-bench
