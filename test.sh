#!/usr/bin/env bash
# Builds with address and undefined-behaviour sanitizers, runs every test with
# ctest and each test binary whole, runs each fuzz target briefly and the
# benchmarks once, and ends with one line "N passed, N failed". The tests also
# run under the thread sanitizer (PANEL_TSAN_SUITE=0 leaves that run out).
set -uo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" || exit 1
export CCACHE_DIR="${CCACHE_DIR:-$PWD/.cache/ccache}"
JOBS=$(nproc)
passed=0
failed=0

# Sanitizer build and the whole test suite.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPANEL_SANITIZE=ON -DPANEL_BENCH=OFF >/dev/null || exit 1
ninja -C build-asan || { echo "0 passed, 1 failed"; exit 1; }
# The layers: no include and no call climbs (each library's symbols).
if python3 scripts/check_layers.py build-asan; then
    passed=$((passed + 1))
else
    failed=$((failed + 1))
fi

# Runs ctest in a build folder (extra arguments go to ctest) and counts its
# results into passed/failed.
run_ctest() {
    local dir=$1
    shift
    ctest --test-dir "$dir" -j "$JOBS" --output-on-failure --timeout 300 "$@" | tee "$dir/ctest.log"
    local total bad
    total=$(grep -Eo 'tests failed out of [0-9]+' "$dir/ctest.log" | grep -Eo '[0-9]+$' || echo 0)
    bad=$(grep -Eo '[0-9]+ tests failed out of' "$dir/ctest.log" | grep -Eo '^[0-9]+' || echo 0)
    if [ "$total" = 0 ] && grep -q '100% tests passed' "$dir/ctest.log"; then
        total=$(grep -Eo 'out of [0-9]+' "$dir/ctest.log" | grep -Eo '[0-9]+$' || echo 0)
    fi
    passed=$((passed + total - bad))
    failed=$((failed + bad))
}

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_ctest build-asan

# The same tests under the thread sanitizer (clang), which fails a test on the
# first data race; the panel processes that the process tests start are built
# with it too. Cases left out are listed in scripts/tsan_exclude.txt, each
# with its reason.
if [ "${PANEL_TSAN_SUITE:-1}" = 0 ]; then
    echo "tsan suite: skipped (PANEL_TSAN_SUITE=0)"
elif cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPANEL_TSAN=ON -DPANEL_BENCH=OFF \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null && ninja -C build-tsan; then
    exclude=$(grep -Ev '^[[:space:]]*(#|$)' scripts/tsan_exclude.txt 2>/dev/null | paste -sd'|')
    # The fatal-signal handler builds the crash log and screen inside the signal
    # on purpose (the panel is going down anyway): the sanitizer's check for
    # calls that are unsafe in a signal is turned off, its race checks are not.
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:report_signal_unsafe=0"
    TSAN_OPTIONS+=":suppressions=$PWD/scripts/tsan.supp"
    run_ctest build-tsan ${exclude:+-E "$exclude"}
else
    echo "tsan build: FAILED"; failed=$((failed + 1))
fi

# Each test binary once more with all its cases in one process, shuffled, so
# that state which survives the fixtures' reset shows up (ctest runs every case
# in a process of its own). The Slow cases take minutes and stay with ctest.
# Each binary counts as one item; SHUFFLE_SEED picks another order.
seed="${SHUFFLE_SEED:-1}"
echo "whole test binaries, shuffled with --gtest_random_seed=$seed"
whole=()
for t in build-asan/bin/test_*; do
    name=$(basename "$t")
    whole+=("$name")
    ( PANEL_BIN="$PWD/build-asan/bin" timeout 1200 "$t" --gtest_shuffle --gtest_random_seed="$seed" \
          --gtest_filter='-*.Slow*' >"build-asan/$name.whole.log" 2>&1
      echo $? >"build-asan/$name.whole.rc" ) &
    while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do sleep 0.2; done
done
wait
for name in "${whole[@]}"; do
    log="build-asan/$name.whole.log"
    if [ "$(cat "build-asan/$name.whole.rc")" = 0 ]; then
        echo "whole $name: passed"; passed=$((passed + 1))
    else
        echo "whole $name: FAILED (seed $seed), the failing cases' output:"
        # Each failed case from its RUN line; a crash shows the output after its RUN line.
        awk '/^\[ RUN      \]/ { buf = ""; open = 1 }
             { buf = buf $0 "\n" }
             /^\[  FAILED  \] .*\(/ { printf "%s", buf; buf = ""; open = 0 }
             /^\[       OK \]/ { buf = ""; open = 0 }
             END { if (open) printf "%s", buf }' "$log" | tail -n 300
        grep -E '^\[  FAILED  \] [^(]*$' "$log"
        failed=$((failed + 1))
    fi
done

# Every parser of outside input has a fuzz target; each runs briefly.
if ls tests/fuzz/fuzz_*.cpp >/dev/null 2>&1; then
    if cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPANEL_FUZZ=ON \
            -DPANEL_TESTS=OFF -DPANEL_BENCH=OFF -DCMAKE_C_COMPILER=clang \
            -DCMAKE_CXX_COMPILER=clang++ >/dev/null && ninja -C build-fuzz; then
        for f in build-fuzz/bin/fuzz_*; do
            name=$(basename "$f")
            # Seeds and inputs that once found a fault (tests/fuzz/corpus/NAME) start
            # the run, from a copy: the fuzzer adds to its corpus folder.
            corpus=()
            if [ -d "tests/fuzz/corpus/$name" ]; then
                rm -rf "build-fuzz/corpus-$name"
                cp -r "tests/fuzz/corpus/$name" "build-fuzz/corpus-$name"
                corpus=("build-fuzz/corpus-$name")
            fi
            if "$f" -max_total_time="${FUZZ_SECONDS:-10}" -rss_limit_mb=2048 "${corpus[@]}" \
                    >"build-fuzz/$name.log" 2>&1; then
                echo "fuzz $name: passed"; passed=$((passed + 1))
            else
                echo "fuzz $name: FAILED"; tail -n 30 "build-fuzz/$name.log"; failed=$((failed + 1))
            fi
        done
    else
        echo "fuzz build: FAILED"; failed=$((failed + 1))
    fi
fi

# Benchmarks: built optimised, run once, figures reported as ratios.
if ls bench/bench_*.cpp >/dev/null 2>&1; then
    if cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPANEL_TESTS=OFF -DPANEL_BENCH=ON >/dev/null \
            && ninja -C build; then
        # The logs go beside the binaries' folder, not into it: the loop
        # would take them for benchmarks on the next run.
        for b in build/bin/bench_*; do
            log="build/$(basename "$b").log"
            if "$b" --benchmark_min_time=0.05 >"$log" 2>&1; then
                grep -E 'x baseline' "$log" || true
                passed=$((passed + 1))
            else
                echo "bench $(basename "$b"): FAILED"; tail -n 20 "$log"; failed=$((failed + 1))
            fi
        done
    else
        echo "bench build: FAILED"; failed=$((failed + 1))
    fi
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
