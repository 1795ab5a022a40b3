#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a fixed number of executions,
# starting from the committed seed corpus. Usage: scripts/fuzz.sh [runs per target]
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-50000}
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDOSEDESK_FUZZ=ON -DDOSEDESK_BENCH=OFF >/dev/null
targets=(answer_judge log_escape item_parse discrete_command)
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

status=0
for t in "${targets[@]}"; do
    work=$(mktemp -d)
    # A copy of the seeds: new inputs found here are not meant to land in the repository.
    cp fuzz/corpus/"$t"/* "$work"/
    if "$build/fuzz/fuzz_$t" -runs="$runs" -max_len=512 -timeout=10 "$work" \
        >"$build/fuzz_$t.log" 2>&1; then
        echo "fuzz_$t: $(grep -E '^Done' "$build/fuzz_$t.log")"
    else
        echo "fuzz_$t: FAILED (see $build/fuzz_$t.log)"
        tail -n 30 "$build/fuzz_$t.log"
        status=1
    fi
    rm -rf "$work"
done
exit $status
