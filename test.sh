#!/usr/bin/env bash
# Installs what is missing, builds DoseDesk and runs every test: the normal build and suite (the
# fuzz corpora replayed as ordinary tests), the suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a two-minute soak of the panel against the simulated pump.
# Ends with the size of the test code against the product code.
# DOSEDESK_QUICK=1 leaves out the sanitizers and the soak.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

jobs=$(nproc)
started=$(date +%s)
quick=${DOSEDESK_QUICK:-0}
if [ "$quick" != "1" ]; then
    logs=$(mktemp -d)
    trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$logs"' EXIT
    # The sanitizer build starts at once, at a low priority: it takes what the normal build leaves
    # (its code generation and link steps run one at a time), then what the suite's waits leave,
    # so that the tests keep their pace.
    nice -n 15 ./scripts/sanitize.sh build >"$logs/sanitizer-build" 2>&1 &
    sanitizer_build=$!
fi
# Line tables instead of full debug information: backtraces keep their file and line, and the
# build takes a third less time.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
cmake --build build -j"$jobs"
echo "test.sh: built in $(( $(date +%s) - started )) s"

if [ "$quick" = "1" ]; then
    ctest --test-dir build --output-on-failure -j"$jobs"
else
    # The suite spends most of its time waiting for the pump and the window's timers, so the
    # sanitizer build goes on and the soak runs beside it. The soak samples memory, descriptors,
    # threads, timers and panes while polling; the long run is scripts/soak.sh 120
    # (docs/reliability.md).
    ./scripts/soak.sh 2 >"$logs/soak" 2>&1 &
    soak=$!
    suite=0
    ctest --test-dir build --output-on-failure -j"$jobs" || suite=$?
    echo "test.sh: suite done at $(( $(date +%s) - started )) s"
    built=0
    wait "$sanitizer_build" || built=$?
    echo "test.sh: sanitizer build done at $(( $(date +%s) - started )) s"
    soaked=0
    wait "$soak" || soaked=$?
    cat "$logs/soak"
    if [ "$built" -ne 0 ]; then
        tail -n 60 "$logs/sanitizer-build"
        echo "test.sh: the sanitizer build failed" >&2
    fi
    if [ "$suite" -ne 0 ] || [ "$built" -ne 0 ] || [ "$soaked" -ne 0 ]; then
        exit 1
    fi
    # The benchmark programs are compiled (not run) on what the sanitizer suite leaves free.
    nice -n 15 cmake --build build -j"$jobs" --target bench_exchange bench_polling bench_program \
        bench_network bench_display bench_stall >"$logs/benchmarks" 2>&1 &
    benchmarks=$!
    ./scripts/sanitize.sh test
    if ! wait "$benchmarks"; then
        tail -n 60 "$logs/benchmarks"
        echo "test.sh: the benchmark programs did not build" >&2
        exit 1
    fi
fi

echo "test.sh: $(( $(date +%s) - started )) s"
./scripts/test-ratio.sh
