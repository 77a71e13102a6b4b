# The front door: `make demo` and `make test` install what is missing, build and run.
JOBS ?= 2
RELEASE_DIR := build
DEBUG_DIR := build/debug

.PHONY: demo test deps deps-test release debug clean

demo: deps release
	scripts/demo $(RELEASE_DIR)/bin

test: deps-test debug
	ctest --test-dir $(DEBUG_DIR) --output-on-failure -j$(JOBS)

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

clean:
	rm -rf build
