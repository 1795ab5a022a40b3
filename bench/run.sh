#!/bin/sh
# Builds the benchmarks (RelWithDebInfo, in their own build folder) and prints one table of
# results: exchange overhead per command kind (on a quiet machine and with every processor taken
# by busy threads), polling, user-command latency, start-up, CPU use of the program, the cost
# of the display update, how late the window's thread gets to its events while it polls, and
# four pumps on one line (how often each is read, Stop all) and the broker bridge (a stop from
# the broker, state publications, a flood of commands).
#
#   bench/run.sh [--quick] [--build-dir DIR]
#
# --quick shortens the 60 s runs (polling, CPU) to 10 s and takes fewer exchange samples; the
# figures in docs/performance.md come from a full run.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
quick=0
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) quick=1 ;;
        --build-dir) build="$2"; shift ;;
        -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

if [ "$quick" = 1 ]; then
    seconds=10; count=60; silent=10; starts=3
else
    seconds=60; count=300; silent=30; starts=5
fi
turnaround=5

targets="bench_exchange bench_polling bench_program bench_network bench_display bench_stall bench_bus bench_mqtt"

echo "Building $targets in $build (RelWithDebInfo) ..." >&2
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOSEDESK_BENCH=ON >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" --target $targets -j2 >/dev/null

bin="$build/bin"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

load() { cut -d' ' -f1-3 /proc/loadavg; }
load_before=$(load)
started=$(date -u '+%Y-%m-%d %H:%M UTC')

export QT_QPA_PLATFORM=offscreen
echo "Exchange ..." >&2
"$bin/bench_exchange" --turnaround "$turnaround" --count "$count" --silent-count "$silent" >"$out/exchange"
echo "Exchange with both processors taken by busy threads ..." >&2
"$bin/bench_exchange" --turnaround "$turnaround" --count "$count" --silent-count "$silent" --busy "$(nproc)" >"$out/exchange-busy"
echo "Exchange through ser2net on loopback TCP ..." >&2
"$bin/bench_network" --turnaround "$turnaround" --count "$count" >"$out/network" \
    || echo "| Exchange through ser2net | bench_network failed | median <= 1 ms extra | MISSED |" >"$out/network"
echo "Polling ($seconds s) ..." >&2
"$bin/bench_polling" --turnaround "$turnaround" --seconds "$seconds" >"$out/polling"
echo "Stop clicked 200 times while polling ..." >&2
"$bin/bench_polling" --turnaround "$turnaround" --stop-clicks 200 >"$out/stop"
echo "Program: start-up and CPU (2 x $seconds s) ..." >&2
"$bin/bench_program" --turnaround "$turnaround" --seconds "$seconds" --starts "$starts" >"$out/program"
if [ -x "$bin/bench_display" ]; then
    echo "Display update ..." >&2
    "$bin/bench_display" >"$out/display" || echo "| Display update | bench_display failed | median < 1 ms | MISSED |" >>"$out/display"
else
    echo "| Display update | bench_display not built | median < 1 ms | MISSED |" >"$out/display"
fi
echo "Window thread while polling ($silent s each: answering, silent, behind ser2net) ..." >&2
"$bin/bench_stall" --seconds "$silent" >"$out/stall" || echo "| Window thread lateness | bench_stall failed | p99 <= 16 ms | MISSED |" >"$out/stall"
echo "Four pumps on one line, then on four lines ($silent s each, 50 clicks on Stop all) ..." >&2
{ "$bin/bench_bus" --seconds "$silent" --clicks 50 && "$bin/bench_bus" --seconds "$silent" --clicks 50 --lines 4; } >"$out/bus" \
    || echo "| Four pumps | bench_bus failed | | MISSED |" >>"$out/bus"
echo "Broker bridge: stops from the broker, state while running, a flood ..." >&2
"$bin/bench_mqtt" --stops "$starts"0 --seconds "$seconds" >"$out/mqtt" 2>/dev/null \
    || echo "| Broker bridge | bench_mqtt failed | stop < 100 ms | MISSED |" >"$out/mqtt"
load_after=$(load)

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo "# DoseDesk performance, $started"
echo
echo "Machine: $(nproc) cores, $cpu; load average (1/5/15 min) $load_before before, $load_after after."
[ "$quick" = 1 ] && echo "Quick run: shortened; not the documented figures."
echo
echo "| Measure | Result | Target | Status |"
echo "|---|---|---|---|"
for part in exchange exchange-busy network polling stop program display stall bus mqtt; do
    grep '^| ' "$out/$part" || true
done
echo
echo "Details:"
for part in exchange exchange-busy network polling stop program display stall bus mqtt; do
    grep -v '^| ' "$out/$part" || true
done
exit 0
