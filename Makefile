# Front over CMake. `make example` builds TORVA, runs the example watershed in a copy under the
# build folder and shows its outlet hydrograph, event summary and water balance; `make test`
# builds everything and runs every test; `make bench` runs the benchmarks.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build example example-longterm test bench update-expected clean fuzz-build fuzz \
	fuzz-replay

all: build

deps:
	@.ci/deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) > /dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The example needs only the program it runs, not the tests and benchmarks.
example: configure
	@cmake --build $(BUILD) -j $(JOBS) --target torva
	rm -rf $(BUILD)/example && cp -r examples/watershed $(BUILD)/example
	cd $(BUILD)/example && ../torva watershed.prj
	@echo; echo "--- outlet hydrograph every 15 minutes ($(BUILD)/example/watershed_outlet.out):"
	@printf "%8s %12s\n" "minutes" "Q (m3/s)"
	@awk 'NR % 3 == 1 { printf "%8.1f %12.3f\n", $$1, $$2 }' $(BUILD)/example/watershed_outlet.out
	@echo; echo "--- event summary and water balance ($(BUILD)/example/watershed_summary.out):"
	@sed -n '/EVENT RUNOFF SIMULATION SUMMARY/,/THE FOLLOWING WARNINGS/p' $(BUILD)/example/watershed_summary.out | sed '$$d'
	@sed -n '/^SIMULATION TOTALS/,$$p' $(BUILD)/example/watershed_summary.out

# The long-term example: forty days of hourly weather, snow at the start, two storms. Shows the
# storms' peaks, the snow water equivalent and the evapotranspiration day by day, and the
# closing water balance.
example-longterm: build
	rm -rf $(BUILD)/example-longterm && cp -r examples/longterm $(BUILD)/example-longterm
	cd $(BUILD)/example-longterm && ../torva longterm.prj > longterm_console.out
	@echo; echo "--- storms ($(BUILD)/example-longterm/longterm_summary.out):"
	@grep -E 'Event began on|date/time of peak|Event peak discharge' \
		$(BUILD)/example-longterm/longterm_summary.out
	@echo; echo "--- day by day: mean snow water equivalent at midnight and evapotranspiration"
	@printf "%-10s %10s %10s\n" "day" "SWE (mm)" "ET (mm)"
	@cd $(BUILD)/example-longterm && awk ' \
		FNR == NR { if (FNR > 1) { et[$$1] += $$5 * 10.0; if (!($$1 in seen)) { seen[$$1] = 1; day[++days] = $$1 } } next } \
		/^TS / { frame++; line = 0; next } \
		frame > 0 && /^[-0-9.]+$$/ { line++; if (line <= 120) flag[line] = $$1; \
			else if (flag[line - 120] == 1) { sum[frame] += $$1; n[frame]++ } } \
		END { for (k = 1; k <= days; k++) printf "%-10s %10.2f %10.2f\n", day[k], \
			(n[k] > 0 ? sum[k] / n[k] * 1000.0 : 0.0), et[day[k]] }' evap_out longterm_swe.dat
	@echo; sed -n '/^SIMULATION TOTALS/,$$p' $(BUILD)/example-longterm/longterm_summary.out

# The tests run many test programs at once, each on up to eight threads: their threads sleep at
# barriers rather than spin, so a machine with fewer cores than threads is not stalled.
test: build
	cd $(BUILD) && OMP_WAIT_POLICY=passive ctest --output-on-failure -j $(JOBS)

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
	$(BUILD)/sediment_bench
	$(BUILD)/contam_bench
	$(BUILD)/event_step_bench
	$(BUILD)/channel_routing_bench
	$(BUILD)/richards_bench
	$(BUILD)/superlink_bench
	$(BUILD)/event_step_bench --richards --sides 250,500 --schemes explicit
	$(BUILD)/groundwater_bench
	$(BUILD)/vector_powers_bench
	$(BUILD)/busy_machine_bench
	bench/calibration_bench.sh $(BUILD)
	$(BUILD)/longterm_year_bench --sides 100 --days 365

# Fuzzing with libFuzzer (clang-14, AddressSanitizer and UndefinedBehaviorSanitizer) in its own
# build: `make fuzz TARGET=name SECONDS=n` fuzzes one harness of tests/fuzz/, `make fuzz` each in
# turn; new inputs go to $(FUZZ_BUILD)/corpus/<name>, faults to $(FUZZ_BUILD)/artifacts/<name>
# (keep a reproducer under tests/fuzz/<name>/regressions/ once mended). `make fuzz-replay` runs
# every seed and saved reproducer through its harness once, without fuzzing; CI does the same in
# the sanitizer build (the tests fuzz_replay.<name>), without a build of its own. A harness is
# the folder tests/fuzz/<name>/ holding <name>_fuzz.cpp; CMakeLists.txt finds them the same way.
FUZZ_BUILD ?= build-fuzz
FUZZ_TARGETS := $(sort $(patsubst tests/fuzz/%/,%,$(dir $(wildcard tests/fuzz/*/*_fuzz.cpp))))
TARGET ?= $(FUZZ_TARGETS)
SECONDS ?= 60
FUZZ_FLAGS ?=
FUZZ_LIMITS := -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048

fuzz-build: deps
	@CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -G Ninja -DTORVA_FUZZ=ON \
		-DTORVA_TESTS=OFF -DCMAKE_BUILD_TYPE=None > /dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz: fuzz-build
	@for t in $(TARGET); do \
		test -d tests/fuzz/$$t || { echo "no fuzz harness tests/fuzz/$$t"; exit 2; }; \
		mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/artifacts/$$t; \
		echo "fuzzing $$t for $(SECONDS) s"; \
		$(FUZZ_BUILD)/fuzz_$$t $(FUZZ_BUILD)/corpus/$$t tests/fuzz/$$t/seeds \
			tests/fuzz/$$t/regressions -dict=tests/fuzz/$$t/$$t.dict -max_total_time=$(SECONDS) \
			$(FUZZ_LIMITS) -artifact_prefix=$(FUZZ_BUILD)/artifacts/$$t/ $(FUZZ_FLAGS) || exit 1; \
	done

fuzz-replay: fuzz-build
	@passed=0; for t in $(FUZZ_TARGETS); do \
		inputs=$$(find tests/fuzz/$$t/seeds tests/fuzz/$$t/regressions -type f ! -name .gitkeep | sort); \
		count=$$(echo "$$inputs" | wc -l); \
		if $(FUZZ_BUILD)/fuzz_$$t $(FUZZ_LIMITS) $$inputs > $(FUZZ_BUILD)/replay_$$t.log 2>&1; then \
			echo "fuzz replay $$t: $$count inputs"; passed=$$((passed + count)); \
		else \
			tail -n 60 $(FUZZ_BUILD)/replay_$$t.log; echo "fuzz replay $$t: FAILED"; \
			echo "fuzz: $$passed passed, 1 failed"; exit 1; \
		fi; \
	done; echo "fuzz: $$passed passed, 0 failed"

clean:
	rm -rf $(BUILD)
