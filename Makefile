# Front over CMake. `make example` builds TORVA and runs the example watershed in a copy under
# the build folder; `make test` builds everything and runs every test; `make bench` runs the
# benchmarks.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build example test bench update-expected clean

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
	@echo "--- $(BUILD)/example/small_outlet.out (minutes, outlet discharge m3/s):"; cat $(BUILD)/example/small_outlet.out

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Rewrites the expected outputs of one whole-run case on purpose: review the diff before committing.
update-expected: build
	@test -n "$(CASE)" || { echo "usage: make update-expected CASE=name"; exit 2; }
	@test -f tests/cases/$(CASE)/case.txt || { echo "no case tests/cases/$(CASE)"; exit 2; }
	TORVA_UPDATE_EXPECTED=$(CASE) $(BUILD)/case_tests --gtest_filter='CaseFolders.*'
	git status --short tests/cases/$(CASE)/expected

bench: build
	$(BUILD)/grid_read_bench
	$(BUILD)/map_write_bench
	$(BUILD)/overland_bench

clean:
	rm -rf $(BUILD)
