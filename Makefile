# Front over CMake. `make example` builds TORVA and runs the example watershed; `make test`
# builds everything and runs every test; `make bench` runs the benchmarks.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build example test bench clean

all: build

deps:
	@.ci/deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) > /dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

example: build
	$(BUILD)/torva -v version

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@echo "no benchmarks yet"

clean:
	rm -rf $(BUILD)
