# Front over CMake. `make example` builds TORVA and runs the example watershed in a copy under
# the build folder; `make test` builds everything and runs every test; `make bench` runs the
# benchmarks.
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
	rm -rf $(BUILD)/example && cp -r examples/small $(BUILD)/example
	cd $(BUILD)/example && ../torva small.prj
	@echo; echo "--- $(BUILD)/example/small_summary.out:"; cat $(BUILD)/example/small_summary.out
	@echo "--- $(BUILD)/example/maskmap:"; cat $(BUILD)/example/maskmap

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	$(BUILD)/grid_read_bench

clean:
	rm -rf $(BUILD)
