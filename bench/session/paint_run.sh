#!/usr/bin/env bash
# Runs session_paint_bench against the shadow server on loopback: one Xvfb for
# the server, whose screen alternates two colours, one for the client's window.
#   bench/session/paint_run.sh BUILD_DIR [SECONDS] [RATE] [gfx|bitmap]
set -euo pipefail
build=${1:?build directory}; seconds=${2:-20}; rate=${3:-30}; mode=${4:-gfx}
work=$(mktemp -d); pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
Xvfb :91 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
Xvfb :92 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!); xserver=$!
sleep 1
DISPLAY=:91 "$build/tests/session/x11_target" --color 336699 --animate "$rate" --other CC6633 >/dev/null & pids+=($!)
HOME=$work DISPLAY=:91 freerdp-shadow-cli /bind-address:127.0.0.1 /port:13391 -auth >"$work/server.log" 2>&1 & pids+=($!)
sleep 1.5
DISPLAY=:92 "$build/bench/session/session_paint_bench" 13391 "$seconds" "$rate" "$xserver" "$mode"
