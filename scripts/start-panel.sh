#!/usr/bin/env bash
# Starts the built panel against the simulated pump. With a display it runs until the window is
# closed; without one it runs under a virtual display as a short demonstration: it connects,
# saves a screenshot, prints its path and exits.
set -euo pipefail
cd "$(dirname "$0")/.."

program=build/bin/dosedesk
if [ ! -x "$program" ]; then
    echo "$program is missing: build first (./run.sh builds it)" >&2
    exit 1
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${DOSEDESK_DEMO:-0}" != "1" ]; then
    exec "$program" --simulate "$@"
fi

mkdir -p build/demo
shot="$(pwd)/build/demo/dosedesk-$(date +%Y%m%d-%H%M%S).png"
echo "No display: running the panel under a virtual display for a short demonstration."
xvfb-run -a -s "-screen 0 1400x900x24" "$program" --simulate --screenshot "$shot" "$@"
echo "Screenshot of the panel connected to the simulated pump: $shot"
