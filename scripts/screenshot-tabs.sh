#!/usr/bin/env bash
# Saves a picture of the main window's tab strip with its close buttons: the
# manager's tab and "+" without one, a tab still loading with its icon.
# Usage: scripts/screenshot-tabs.sh [picture.png]   (default: build/screenshot-tabs.png;
# the strip alone goes beside it, ending in -strip.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/build/screenshot-tabs.png}")
strip="${out%.png}-strip.png"
build="$root/build"

[ -f "$build/build.ninja" ] || "$root/scripts/build.sh" normal
cmake --build "$build" --target tab_strip_shot >/dev/null

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

. "$root/scripts/virtual-display.sh"
start_virtual_display 121 150

mkdir -m 700 "$work/runtime" "$work/config"
# A settings folder of its own: the window opens at its first-start size.
export DISPLAY="$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config"
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"
"$build/bench/shell/tab_strip_shot" "$out" "$strip" >"$work/shot.log" 2>&1 \
  || { echo "screenshot: tab_strip_shot failed:" >&2; cat "$work/shot.log" >&2; exit 1; }
echo "$out"
echo "$strip"
