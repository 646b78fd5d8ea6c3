# Two commands on a fresh machine: `make demo` and `make test`.
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
# The core the peer benchmark tables (drawers, model loads) are pinned to.
BENCH_CPU ?= 0
# make bench BENCH_FILTER=Polygon BENCH_REPS=5: a regular expression over benchmark names, and
# the repetitions whose median, mean and spread are reported.
BENCH_FILTER ?= .
BENCH_REPS ?= 3
CMAKE_GEN = -G Ninja
# make test WERROR=ON: the release and sanitizer builds treat warnings as errors (CI does this; a
# build without the variable keeps whatever its build folder was configured with).
WERROR ?=

.PHONY: deps demo test test-release test-asan bench fuzz package-check clean

deps:
	@bash scripts/deps.sh

build/release/build.ninja: CMakeLists.txt | deps
	cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release

build/asan/build.ninja: CMakeLists.txt | deps
	cmake -S . -B build/asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DENGINE_SANITIZE=ON -DENGINE_BENCH=OFF

build/fuzz/build.ninja: CMakeLists.txt | deps
	CC=clang CXX=clang++ cmake -S . -B build/fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DENGINE_FUZZ=ON

demo: deps build/release/build.ninja
	cmake --build build/release --target demo -j $(JOBS)
	mkdir -p demo-out
	cd demo-out && ../build/release/demo

test-release: deps build/release/build.ninja
	$(if $(WERROR),cmake -S . -B build/release -DENGINE_WERROR=$(WERROR) > /dev/null)
	cmake --build build/release -j $(JOBS)
	cd build/release && ctest -j $(JOBS) --output-on-failure

test-asan: deps build/asan/build.ninja
	$(if $(WERROR),cmake -S . -B build/asan -DENGINE_WERROR=$(WERROR) > /dev/null)
	cmake --build build/asan -j $(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest -j $(JOBS) --output-on-failure

test: test-release test-asan

bench: deps build/release/build.ninja
	cmake --build build/release -j $(JOBS)
	for b in build/release/*_bench; do case $$b in */peer_bench|*/load_peer_bench) ;; *) $$b --benchmark_filter='$(BENCH_FILTER)' --benchmark_repetitions=$(BENCH_REPS) --benchmark_report_aggregates_only=true;; esac; done
	python3 scripts/bench_table.py build/release/peer_bench --repetitions $(BENCH_REPS) --cpu $(BENCH_CPU)
	python3 scripts/bench_table.py build/release/load_peer_bench --repetitions $(BENCH_REPS) --cpu $(BENCH_CPU)

# Installs the release build into build/release/package-check, compiles each installed header on
# its own, builds and runs examples/ as an outside project against the installed package, then
# runs the README's install recipe and builds, runs and checks its code blocks against that install.
package-check: deps build/release/build.ninja
	cmake --build build/release -j $(JOBS)
	bash scripts/check_package.sh build/release

# Runs every fuzz target for FUZZ_SECONDS, seeded from fuzz/corpus/<target> and the test data.
fuzz: deps build/fuzz/build.ninja
	cmake --build build/fuzz -j $(JOBS)
	bash scripts/run_fuzz.sh build/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build demo-out
