# Thin wrapper over CMake. `make run`: the benchmark on the bundled data (builds only the driver).
# `make test`: builds everything and runs every test.
BUILD ?= build
MAKEFLAGS += --no-print-directory
JOBS ?= 2
RUN_DIR := $(BUILD)/run

.PHONY: all deps configure build run test asan bench clean fuzz memcheck suite

all: build

deps:
	@scripts/ensure_deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

# Only what the run needs: the libraries below the driver and nurbs_bench, built quietly (the
# compiler's output goes to $(BUILD)/run-build.log, shown when the build fails); `make test`
# builds the rest. Its own lines go to standard error, so that standard output is the driver's
# one deltaT= line. The driver reads its inputs from, and writes nurbs_out.txt into, its working
# directory: $(RUN_DIR), which holds copies of the bundled curve and feed profile.
run: configure
	@echo "make run: building nurbs_bench, the driver, and the library under it (make test builds the rest) ..." >&2
	@cmake --build $(BUILD) --target nurbs_bench -j$(JOBS) >$(BUILD)/run-build.log 2>&1 || \
	  { cat $(BUILD)/run-build.log >&2; echo "make run: the build failed (its log: $(BUILD)/run-build.log)" >&2; exit 1; }
	@mkdir -p $(RUN_DIR)
	@cp data/S1200X30quorbel.nurbs data/fprof.txt $(RUN_DIR)/
	@echo "make run: nurbs_bench in $(RUN_DIR) on the bundled curve and feed profile (deltaT: the interpolation loop's time, us):" >&2
	@cd $(RUN_DIR) && ../nurbs_bench

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# The whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	@cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNURBS_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD)-asan -j$(JOBS)
	@cd $(BUILD)-asan && ctest --output-on-failure -j$(JOBS)

bench: build
	@for b in $(BUILD)/bench_*; do $$b --benchmark_repetitions=5 --benchmark_report_aggregates_only=true; done

clean:
	rm -rf $(BUILD) $(BUILD)-asan

# libFuzzer harnesses (clang) for the curve loader and the profile reader, each run for
# FUZZ_SECONDS seconds.
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/ensure_deps.sh clang libclang-rt-dev
	@cmake -S . -B $(BUILD)-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release -DNURBS_FUZZ=ON >/dev/null
	@cmake --build $(BUILD)-fuzz -j$(JOBS)
	@scripts/run_fuzz.sh $(BUILD)-fuzz $(FUZZ_SECONDS)

# valgrind memcheck of the driver on the bundled data and of the loader tests: 0 errors, 0 leaks.
memcheck: build
	@scripts/ensure_deps.sh valgrind
	@scripts/memcheck.sh $(BUILD)

# Every interpolator on every curve of the suite (data/curves/suite.txt): build/suite/summary.csv,
# summary.md (printed at the end) and one plot per curve and profile; axis ratios against the router.
suite: build
	@scripts/ensure_deps.sh gnuplot-nox
	@$(BUILD)/interp_suite --manifest data/curves/suite.txt --config data/machines/router.toml --out $(BUILD)/suite
