# The front door: `make demo` and `make test` install what is missing, build and run.
JOBS ?= 2
RELEASE_DIR := build
DEBUG_DIR := build/debug
ASAN_DIR := build/asan
BENCH_DIR := build/bench
BENCH_ARGS ?=
FUZZ_DIR := build/fuzz
FUZZ_SECONDS ?= 60
RACE_SECONDS ?= 60

.PHONY: demo test fuzz race bench deps deps-test release debug asan clean

demo: deps release
	scripts/demo $(RELEASE_DIR)/bin

# The whole suite twice: a Debug build, then an ASan + UBSan build in a folder of its own.
test: deps-test debug asan
	ctest --test-dir $(DEBUG_DIR) --output-on-failure -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_DIR) --output-on-failure -j$(JOBS)

deps:
	scripts/install-deps build

deps-test:
	scripts/install-deps build test

release:
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DSORVIK_BUILD_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j$(JOBS)

debug:
	cmake -S . -B $(DEBUG_DIR) -DCMAKE_BUILD_TYPE=Debug -DSORVIK_WERROR=ON
	cmake --build $(DEBUG_DIR) -j$(JOBS)

fuzz:
	scripts/install-deps build test fuzz
	CXX=clang++-19 cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DSORVIK_FUZZ=ON -DSORVIK_SANITIZE=ON -DSORVIK_BUILD_TESTS=OFF
	cmake --build $(FUZZ_DIR) -j$(JOBS) --target fuzz_targets
	scripts/fuzz $(FUZZ_DIR) $(FUZZ_SECONDS)

# Speed against the standard tools: the codec micro-benchmarks, then the harness's report.
# Options go through BENCH_ARGS, e.g. `make bench BENCH_ARGS=--quick`.
bench:
	scripts/install-deps build bench
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DSORVIK_BUILD_TESTS=OFF -DSORVIK_BUILD_BENCH=ON
	cmake --build $(BENCH_DIR) -j$(JOBS)
	$(BENCH_DIR)/bin/sorvik_codec_bench
	$(BENCH_DIR)/bin/sorvik_bench $(BENCH_ARGS)

# The link races and the helper's bad-input runs for RACE_SECONDS each instead of make test's few.
race: deps-test debug
	SORVIK_RACE_SECONDS=$(RACE_SECONDS) SORVIK_BAD_INPUT_SECONDS=$(RACE_SECONDS) \
	  SORVIK_BAD_INPUT_RUNS=100000000 ctest --test-dir $(DEBUG_DIR) --output-on-failure --verbose \
	  --timeout $$(( $(RACE_SECONDS) * 3 + 120 )) -R '^(LinkRace|HelperBadInput)\.'

asan:
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVIK_WERROR=ON -DSORVIK_SANITIZE=ON
	cmake --build $(ASAN_DIR) -j$(JOBS)

clean:
	rm -rf build
