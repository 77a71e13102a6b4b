# The front door: `make demo` and `make test` install what is missing, build and run.
JOBS ?= 2
RELEASE_DIR := build
DEBUG_DIR := build/debug
ASAN_DIR := build/asan
PORTABLE_DIR := build/portable
BENCH_PORTABLE_DIR := build/bench-portable
# The portable build: clang-19 with libc++, every Linux fast path off, GoogleTest from source.
PORTABLE_SETTINGS := -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/clang-libcxx.cmake -DSORVIK_PORTABLE=ON \
  -DSORVIK_GTEST_SOURCE_DIR=/usr/src/googletest
BENCH_DIR := build/bench
BENCH_ARGS ?=
FUZZ_DIR := build/fuzz
FUZZ_SECONDS ?= 60
RACE_SECONDS ?= 60
# Seconds a test may run before CTest fails it by name: each build records it for its tests, and
# the ctest lines hold any test without one to it too.
TEST_TIMEOUT ?= 600

.PHONY: demo test macos workflow fuzz race bench deps deps-test release debug asan portable clean

demo: deps release
	scripts/demo $(RELEASE_DIR)/bin

# The whole suite three times: a Debug build, an ASan + UBSan build, and the portable build that
# runs on Linux the branches a macOS build takes, each in a folder of its own; then why each
# skipped test was skipped.
test: deps-test debug asan portable
	ctest --test-dir $(DEBUG_DIR) --output-on-failure -j$(JOBS) --timeout $(TEST_TIMEOUT)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_DIR) --output-on-failure -j$(JOBS) --timeout $(TEST_TIMEOUT)
	ctest --test-dir $(PORTABLE_DIR) --output-on-failure -j$(JOBS) --timeout $(TEST_TIMEOUT)
	scripts/skip-reasons $(DEBUG_DIR) $(ASAN_DIR) $(PORTABLE_DIR)

# Every target for macOS (arm64 and x86_64) with Zig's toolchain, and universal executables.
macos:
	scripts/install-deps build macos
	JOBS=$(JOBS) scripts/macos build/macos

# The GitHub workflow: actionlint finds no fault in it, and its Mac job runs the README's Mac
# commands.
workflow:
	scripts/install-deps workflow
	scripts/check-workflow

deps:
	scripts/install-deps build

deps-test:
	scripts/install-deps build test portable

release:
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DSORVIK_BUILD_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j$(JOBS)

debug:
	cmake -S . -B $(DEBUG_DIR) -DCMAKE_BUILD_TYPE=Debug -DSORVIK_WERROR=ON \
	  -DSORVIK_TEST_TIMEOUT=$(TEST_TIMEOUT)
	cmake --build $(DEBUG_DIR) -j$(JOBS)

fuzz:
	scripts/install-deps build test fuzz
	CXX=clang++-19 cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DSORVIK_FUZZ=ON -DSORVIK_SANITIZE=ON -DSORVIK_BUILD_TESTS=OFF
	cmake --build $(FUZZ_DIR) -j$(JOBS) --target fuzz_targets
	scripts/fuzz $(FUZZ_DIR) $(FUZZ_SECONDS)

# Speed against the standard tools: the codec micro-benchmarks, then the harness's report.
# Options go through BENCH_ARGS, e.g. `make bench BENCH_ARGS=--quick`.
# The portable helper is timed beside the fast one.
bench:
	scripts/install-deps build bench
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DSORVIK_BUILD_TESTS=OFF -DSORVIK_BUILD_BENCH=ON
	cmake --build $(BENCH_DIR) -j$(JOBS)
	cmake -S . -B $(BENCH_PORTABLE_DIR) $(PORTABLE_SETTINGS) -DCMAKE_BUILD_TYPE=Release \
	  -DSORVIK_BUILD_TESTS=OFF
	cmake --build $(BENCH_PORTABLE_DIR) -j$(JOBS) --target sorvik_helper
	$(BENCH_DIR)/bin/sorvik_codec_bench
	$(BENCH_DIR)/bin/sorvik_bench --portable-helper $(BENCH_PORTABLE_DIR)/bin/sorvik_helper \
	  $(BENCH_ARGS)

# The link races and the helper's bad-input runs for RACE_SECONDS each instead of make test's few;
# their time limit grows with it (the next `make debug` sets it back).
RACE_TIMEOUT = $$(( $(RACE_SECONDS) * 3 + 120 ))
race: deps-test debug
	cmake -S . -B $(DEBUG_DIR) -DSORVIK_TEST_TIMEOUT=$(RACE_TIMEOUT)
	SORVIK_RACE_SECONDS=$(RACE_SECONDS) SORVIK_BAD_INPUT_SECONDS=$(RACE_SECONDS) \
	  SORVIK_BAD_INPUT_RUNS=100000000 ctest --test-dir $(DEBUG_DIR) --output-on-failure --verbose \
	  --timeout $(RACE_TIMEOUT) -R '^(LinkRace|HelperBadInput)\.'

asan:
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVIK_WERROR=ON -DSORVIK_SANITIZE=ON \
	  -DSORVIK_TEST_TIMEOUT=$(TEST_TIMEOUT)
	cmake --build $(ASAN_DIR) -j$(JOBS)

portable:
	cmake -S . -B $(PORTABLE_DIR) $(PORTABLE_SETTINGS) -DCMAKE_BUILD_TYPE=Debug -DSORVIK_WERROR=ON \
	  -DSORVIK_TEST_TIMEOUT=$(TEST_TIMEOUT)
	cmake --build $(PORTABLE_DIR) -j$(JOBS)

clean:
	rm -rf build
