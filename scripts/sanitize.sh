#!/usr/bin/env bash
# Builds what the tests need with AddressSanitizer and UndefinedBehaviorSanitizer in its own
# build folder (no benchmarks) and runs every test there. Any sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-asan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDOSEDESK_SANITIZE=ON -DDOSEDESK_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
