# The station's entry points. `make run` and `make test` are what the README promises.
BUILD      ?= build
TEST_BUILD ?= build-test
JOBS       ?= $(shell nproc)
CMAKE_GEN  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all deps build run test test-build bench soak format clean

all: build

deps:
	scripts/install-deps.sh

build:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORMELQ_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS)

run:
	scripts/run-station.sh

# Tests are built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-build:
	cmake -S . -B $(TEST_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DVORMELQ_SANITIZE=ON
	cmake --build $(TEST_BUILD) -j $(JOBS)

test: test-build
	cd $(TEST_BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 300

bench:
	scripts/bench.sh

soak:
	scripts/soak.sh

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(TEST_BUILD) build-bench
