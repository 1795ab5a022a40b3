#!/usr/bin/env bash
# Long run of the panel against the simulated pump with polling on and every cyclic frame logged:
# samples memory, descriptors, threads, timers and the traffic panes, and fails when any of them
# grows. Usage: scripts/soak.sh [minutes] (default 10). BUILD_DIR picks the build folder (build).
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=${1:-10}
build=${BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target dd_soak >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Its own settings and copy numbering, so that a soak beside other runs disturbs none of them.
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$scratch/config" DOSEDESK_LOCK_DIR="$scratch/locks" \
    "$build/bench/dd_soak" "$minutes"
