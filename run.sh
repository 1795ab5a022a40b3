#!/usr/bin/env bash
# Installs what is missing, builds DoseDesk and starts the panel against the simulated pump.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"

exec ./scripts/start-panel.sh "$@"
