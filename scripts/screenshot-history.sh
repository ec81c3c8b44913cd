#!/usr/bin/env bash
# Takes a picture of a few server rows with a day of reachability history behind
# them (a narrow latency sparkline column) and one row's tooltip shown: the last
# change, availability over an hour and a day, and the latency of the last half
# hour. Runs under Xvfb. Usage: scripts/screenshot-history.sh [OUTPUT.png] [ROW]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/build/history-tooltip.png}")
row=${2:-2}
mkdir -p "$(dirname "$out")"
"$root/scripts/setup.sh" --tests
"$root/scripts/build.sh" normal history_demo >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR="$work/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"
d=97
while [ -e /tmp/.X$d-lock ] && [ $d -lt 140 ]; do d=$((d + 1)); done
Xvfb :$d -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$d ] && break; sleep 0.1; done
DISPLAY=:$d QT_QPA_PLATFORM=xcb "$root/build/bench/ui/history_demo" "$out" "$row"
echo "$out"
