#!/usr/bin/env bash
# Installs what is missing, builds DoseDesk and runs every test: the normal build, the whole
# suite again under AddressSanitizer/UndefinedBehaviorSanitizer, short fuzzing runs and a
# ten-minute soak of the panel against the simulated pump.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

if [ "${DOSEDESK_QUICK:-0}" != "1" ]; then
    ./scripts/sanitize.sh
    ./scripts/fuzz.sh 50000
    # Ten minutes of polling with every frame logged: memory, descriptors and panes stay flat.
    ./scripts/soak.sh 10
fi
