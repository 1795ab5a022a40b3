#!/usr/bin/env bash
# Builds the Debian package dosedesk_<version>_amd64.deb.
#
#   scripts/package.sh [BUILD_DIR [OUTPUT_DIR]]
#
# BUILD_DIR (default: build) is configured and built first when needed; an up-to-date build is
# packaged as it is. The package goes to OUTPUT_DIR (default: BUILD_DIR) and its path is printed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
output=${2:-$build}

# DOSEDESK_PACKAGE_AS_BUILT=1 packages the tree as it is, built or not: the package test runs
# beside tests that start the programs, which a rebuild must not replace under them.
if [ "${DOSEDESK_PACKAGE_AS_BUILT:-0}" != 1 ]; then
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
    fi
    cmake --build "$build" -j"$(nproc)" >&2
fi

mkdir -p "$output"
output=$(cd "$output" && pwd)
# CPack's own work folder goes with the package, so that two runs on one build do not meet.
(cd "$build" && cpack -G DEB -B "$output" >&2)
ls -t "$output"/dosedesk_*.deb | head -n 1
