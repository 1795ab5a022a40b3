#!/usr/bin/env bash
# Runs the whole ./test.sh N times in a row, each time on a fresh clone of the committed HEAD, and
# reports every run's time, outcome and failed tests. With --beside-rebuild another clone is
# rebuilt from scratch over and over while the runs go on (nothing lowered in priority), which is
# what a busy build machine does to the suite.
#
#   scripts/repeat-tests.sh [--beside-rebuild] [--keep] N [REPORT]
#
# REPORT (default: repeat-tests-report.txt in the current folder) gets one line per run; each
# run's full output is kept beside it as REPORT.runK.log. --keep leaves the clones behind.
set -uo pipefail

beside=0
keep=0
while [ $# -gt 0 ]; do
    case "$1" in
    --beside-rebuild) beside=1; shift ;;
    --keep) keep=1; shift ;;
    -h | --help) sed -n '2,10p' "$0"; exit 0 ;;
    *) break ;;
    esac
done
runs=${1:?usage: $0 [--beside-rebuild] [--keep] N [REPORT]}
report=$(realpath -m "${2:-repeat-tests-report.txt}")
source=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
commit=$(git -C "$source" rev-parse --short HEAD)
work=$(mktemp -d)

rebuilder=""
stop_rebuilder() {
    if [ -n "$rebuilder" ]; then
        kill -- "-$rebuilder" 2>/dev/null || kill "$rebuilder" 2>/dev/null
        wait "$rebuilder" 2>/dev/null
        rebuilder=""
    fi
}
cleanup() {
    stop_rebuilder
    if [ "$keep" = 1 ]; then echo "clones kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# The load: a full configure and build of a separate clone, again and again.
rebuild_forever() {
    git clone -q "$source" "$work/rebuilt"
    while true; do
        rm -rf "$work/rebuilt/build"
        cmake -S "$work/rebuilt" -B "$work/rebuilt/build" -G Ninja \
            -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null 2>&1
        cmake --build "$work/rebuilt/build" -j"$(nproc)" >/dev/null 2>&1
    done
}

{
    echo "# ./test.sh $runs times on clean clones of $commit ($(date -u +%FT%TZ))"
    [ "$beside" = 1 ] && echo "# beside a from-scratch rebuild of another clone, running throughout"
} >"$report"

if [ "$beside" = 1 ]; then
    set -m
    rebuild_forever &
    rebuilder=$!
    set +m
fi

passed=0
for k in $(seq 1 "$runs"); do
    clone="$work/run$k"
    git clone -q "$source" "$clone"
    log="$report.run$k.log"
    started=$(date +%s)
    (cd "$clone" && CI=true ./test.sh </dev/null) >"$log" 2>&1
    status=$?
    seconds=$(($(date +%s) - started))
    # ctest's list of failed tests, and the failing Qt Test functions with their first line.
    failures=$(grep -E '^\s+[0-9]+ - .* \((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)' \
        "$log" | sed -E 's/^\s+[0-9]+ - //' | sort -u | paste -sd ';' -)
    functions=$(grep -E '^FAIL!  :' "$log" | cut -c1-200 | sort -u | paste -sd ';' -)
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
        verdict="pass"
    else
        verdict="FAIL (exit $status)"
    fi
    load=$(cut -d' ' -f1-3 /proc/loadavg)
    echo "run $k: $verdict in ${seconds} s, load $load${failures:+; failed: $failures}${functions:+; $functions}" \
        | tee -a "$report"
    [ "$keep" = 1 ] || rm -rf "$clone"
done
stop_rebuilder
echo "$passed passed, $((runs - passed)) failed" | tee -a "$report"
[ "$passed" -eq "$runs" ]
