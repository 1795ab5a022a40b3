#!/usr/bin/env bash
# Takes the README's pictures of the window again from the built program, under a virtual
# display (Xvfb), against the simulated pump: each one is the program's own --screenshot, taken
# once the pump answers. Run after a change to what the window looks like, then commit docs/.
#
#   scripts/screenshots.sh [build folder]     (default: build)
#
# The running pump, the Run tab and the progress bar in the middle of a dispense, and the pump
# lost come from tst_runrecord, which saves them when DOSEDESK_SCREENSHOT_DIR is set; it is run
# too when it has been built.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"
program="$build/bin/dosedesk"
if [ ! -x "$program" ]; then
    echo "$program is missing: build first (./run.sh builds it)" >&2
    exit 1
fi

# Settings, run records and sockets of these runs stay out of the user's folders.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
export XDG_RUNTIME_DIR="$scratch/run" DOSEDESK_LOCK_DIR="$scratch/locks"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

# shot PICTURE [dosedesk options...]: exit status 3 (no pump answered) still saves the picture.
shot() {
    local picture="docs/$1"
    shift
    local status=0
    xvfb-run -a -s "-screen 0 1400x900x24" "$program" "$@" --screenshot "$picture" >/dev/null \
        || status=$?
    if [ "$status" -ne 0 ] && [ "$status" -ne 3 ]; then
        echo "$picture: dosedesk ended with status $status" >&2
        exit 1
    fi
    echo "$picture"
}

shot window-compact.png --simulate
cp docs/window-compact.png docs/run-demo.png
echo docs/run-demo.png
shot window-expanded.png --simulate --tab Settings
shot state-connected.png --simulate --tab Communication
shot help-tab.png --simulate --tab Help
# A port that is no serial device: the state line says why at once.
touch "$scratch/not-a-port"
shot state-port-refused.png --port "$scratch/not-a-port"

if [ -x "$build/tests/main_window/tst_runrecord" ]; then
    DOSEDESK_SCREENSHOT_DIR="$(pwd)/docs" QT_QPA_PLATFORM=offscreen \
        "$build/tests/main_window/tst_runrecord" dispenseRun >/dev/null
    echo docs/state-running.png docs/run-tab.png docs/run-progress.png docs/state-disconnected.png
fi
