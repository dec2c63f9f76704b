# make run: install what is missing, build, start the embedded game.
# make test: install what is missing, build with the tests, run every test; only the tests labelled "timing" (bounds
# a loaded machine can push them over) get a second try when they fail.
# make bench: install what is missing, build the benchmarks, run them all. make bench-windows: the sprite and start-up
# benchmarks of the Linux build and of the x86_64 Windows build under 64-bit Wine side by side (bench/win_bench.sh).
# make windows: the 32-bit Windows program build-win32/kivgame.exe, cross-built with mingw-w64 over libraries built
# from Debian's sources (tools/win-deps.sh); make dist-windows: build-win32/KivGame-win32.zip; make test-windows:
# the same sources built for 64-bit Windows (build-win64/) and every suite that can run there under 64-bit Wine.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_EXTRA ?=
JOBS ?= $(shell nproc)
# The timing tests start servers, bots and attackers of their own: half as many at once keeps their bounds apart
# from the machine's load.
TIMING_JOBS ?= $(shell echo $$(( ($(JOBS) + 1) / 2 )))
# What build installs and configures: the runtime's packages only (run), or the tests' too (test).
DEPS ?= test
TESTS ?= ON
ROOT := $(patsubst %/,%,$(dir $(abspath $(lastword $(MAKEFILE_LIST)))))

.PHONY: deps build run test bench bench-windows clean windows dist-windows test-windows win-host

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
	@cd $(BUILD) && ctest --output-on-failure --timeout 300 -j$(JOBS) -LE timing
	@cd $(BUILD) && ctest --output-on-failure --timeout 300 -j$(TIMING_JOBS) -L timing --repeat until-pass:2

bench:
	@bash $(ROOT)/tools/install-deps.sh bench
	@cmake -S $(ROOT) -B $(ROOT)/build-bench -DCMAKE_BUILD_TYPE=Release -DKIV_TESTS=OFF -DKIV_BENCH=ON >/dev/null
	@cmake --build $(ROOT)/build-bench -j$(JOBS)
	@bash $(ROOT)/bench/run.sh $(ROOT)/build-bench

# The cross builds run the build-time tools of a native build (kiv_embed, kiv_assets, kiv_oggenc); the Windows
# tests also run its kivgame against the Windows one.
win-host:
	@bash $(ROOT)/tools/install-deps.sh windows
	@cmake -S $(ROOT) -B $(ROOT)/build-host -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DKIV_TESTS=OFF >/dev/null
	@cmake --build $(ROOT)/build-host -j$(JOBS) --target kiv_embed kiv_assets kiv_oggenc kivgame >/dev/null

windows: win-host
	@bash $(ROOT)/tools/win-deps.sh i686-w64-mingw32
	@cmake -S $(ROOT) -B $(ROOT)/build-win32 -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-i686.cmake \
		-DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DKIV_TESTS=OFF -DKIV_HOST_BUILD=$(ROOT)/build-host >/dev/null
	@cmake --build $(ROOT)/build-win32 -j$(JOBS)

dist-windows: windows
	@bash $(ROOT)/tools/win-dist.sh $(ROOT)/build-win32 i686-w64-mingw32

test-windows: windows
	@bash $(ROOT)/tools/win-deps.sh x86_64-w64-mingw32 tests
	@cmake -S $(ROOT) -B $(ROOT)/build-win64 -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-x86_64.cmake \
		-DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DKIV_TESTS=ON -DKIV_HOST_BUILD=$(ROOT)/build-host >/dev/null
	@cmake --build $(ROOT)/build-win64 -j$(JOBS)
	@cd $(ROOT)/build-win64 && bash $(ROOT)/tools/wine-run.sh --session \
		bash -c 'ctest --output-on-failure --timeout 300 -j$(JOBS) -LE timing && \
		ctest --output-on-failure --timeout 300 -j$(TIMING_JOBS) -L timing --repeat until-pass:2'

# Release builds as the Linux benchmarks; build-win64-bench has the sprite benchmark alone besides the game.
bench-windows: win-host
	@bash $(ROOT)/tools/install-deps.sh bench
	@bash $(ROOT)/tools/win-deps.sh x86_64-w64-mingw32 tests
	@cmake -S $(ROOT) -B $(ROOT)/build-bench -DCMAKE_BUILD_TYPE=Release -DKIV_TESTS=OFF -DKIV_BENCH=ON >/dev/null
	@cmake -S $(ROOT) -B $(ROOT)/build-win64-bench -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-x86_64.cmake \
		-DCMAKE_BUILD_TYPE=Release -DKIV_TESTS=OFF -DKIV_BENCH=ON -DKIV_HOST_BUILD=$(ROOT)/build-host >/dev/null
	@JOBS=$(JOBS) bash $(ROOT)/bench/win_bench.sh $(ROOT)/build-bench $(ROOT)/build-win64-bench

clean:
	rm -rf build build-asan build-bench build-host build-win32 build-win64 build-win64-bench
