#!/usr/bin/env bash
# Installs what is missing, builds DoseDesk and runs every test: the normal build and suite (the
# fuzz corpora replayed as ordinary tests), the suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a two-minute soak of the panel against the simulated pump.
# Ends with the size of the test code against the product code.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

jobs=$(nproc)
started=$(date +%s)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

if [ "${DOSEDESK_QUICK:-0}" != "1" ]; then
    ./scripts/sanitize.sh
    # Memory, descriptors, threads, timers and panes stay flat while polling; the long run is
    # scripts/soak.sh 120 (docs/reliability.md).
    ./scripts/soak.sh 2
fi

echo "test.sh: $(( $(date +%s) - started )) s"
./scripts/test-ratio.sh
