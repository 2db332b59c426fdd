# The station's entry points. `make run` and `make test` are what the README promises.
BUILD      ?= build
TEST_BUILD ?= build-test
JOBS       ?= $(shell nproc)
# Ninja when there is one, decided as the recipe runs (after `deps` installed it); a
# build directory keeps the generator it was made with.
CMAKE_GEN   = $(shell [ -f $(1)/CMakeCache.txt ] || ! command -v ninja >/dev/null || echo "-G Ninja")

.PHONY: all deps build run test test-build package bench soak format clean

all: build

# Every command that builds installs what is missing first: any of them may be the
# first one typed on a new machine.
deps:
	scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(call CMAKE_GEN,$(BUILD)) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORMELQ_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS)

# MODULOS=3: a line of three simulated modules on one listener.
MODULOS ?= 1
run:
	scripts/run-station.sh --modules $(MODULOS)

# Tests are built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-build: deps
	cmake -S . -B $(TEST_BUILD) $(call CMAKE_GEN,$(TEST_BUILD)) -DCMAKE_BUILD_TYPE=Debug -DVORMELQ_SANITIZE=ON
	cmake --build $(TEST_BUILD) -j $(JOBS)

# Most tests wait (on a module, a broker, a clock) rather than compute: four per core.
TEST_JOBS ?= $(shell echo $$(( $$(nproc) * 4 )))
test: test-build
	cd $(TEST_BUILD) && ctest -j $(TEST_JOBS) --output-on-failure --timeout 300

# The Debian packages of the release build, vormelq-servicio (the station without a window)
# and vormelq (the window over it), copied here for `apt install ./vormelq*.deb`; those of
# an earlier version go.
package: build
	rm -f $(BUILD)/vormelq*.deb vormelq*.deb
	cd $(BUILD) && cpack -G DEB
	cp $(BUILD)/vormelq*.deb .

bench:
	scripts/bench.sh

soak:
	scripts/soak.sh

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(TEST_BUILD) build-bench vormelq*.deb
