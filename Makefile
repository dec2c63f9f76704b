# make run: install what is missing, build, start the embedded game.
# make test: install what is missing, build, run every test.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_EXTRA ?=
JOBS ?= $(shell nproc)

.PHONY: deps build run test bench clean

deps:
	@bash tools/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_EXTRA) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

run: build
	@bash tools/run.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

bench:
	@bash tools/install-deps.sh bench
	@cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKIV_BENCH=ON >/dev/null
	@cmake --build build-bench -j$(JOBS)
	@bash bench/run.sh build-bench

clean:
	rm -rf build build-asan build-bench
