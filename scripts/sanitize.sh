#!/usr/bin/env bash
# Builds what the tests need with AddressSanitizer and UndefinedBehaviorSanitizer in its own
# build folder (no benchmarks) and runs every test there. Any sanitizer report fails the run.
# Usage: scripts/sanitize.sh [build|test] (default: both).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-asan
step=${1:-all}
if [ "$step" != test ]; then
    # Line tables are enough for the sanitizers' stack traces and keep the build short.
    # It runs beside the normal suite: without precompiled headers, whose hundreds of megabytes
    # mapped anew by every compile weigh on the machine the suite's timing needs.
    # Each library and program is compiled as a few large units (a unity build), which reads the
    # Qt headers a few times rather than once per file: a minute less on two cores.
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
        -DDOSEDESK_SANITIZE=ON -DDOSEDESK_BENCH=OFF -DDOSEDESK_PRECOMPILE=OFF \
        -DCMAKE_UNITY_BUILD=ON >/dev/null
    cmake --build "$build" -j"$(nproc)"
fi
if [ "$step" != build ]; then
    # The normal run's timings, when there are any, let ctest start the longest tests first.
    costs=Testing/Temporary/CTestCostData.txt
    if [ -f "build/$costs" ] && [ ! -f "$build/$costs" ]; then
        mkdir -p "$build/Testing/Temporary" && cp "build/$costs" "$build/$costs"
    fi
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
    # One test more than processors: the tests mostly wait for the pump and the timers.
    ctest --test-dir "$build" --output-on-failure -j"$(( $(nproc) + 1 ))"
fi
