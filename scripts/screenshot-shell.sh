#!/usr/bin/env bash
# Starts the whole program on a virtual X display, with a few servers in its
# catalogue, and saves a picture of the screen.
# Usage: scripts/screenshot-shell.sh [picture.png]   (default: build/screenshot-shell.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/build/screenshot-shell.png}")
build="$root/build"

[ -f "$build/build.ninja" ] || "$root/scripts/build.sh" normal
cmake --build "$build" --target brennic screen_grab >/dev/null

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The program reads its catalogue beside its executable.
cp "$build/src/shell/brennic" "$work/brennic"
cat >"$work/SvrList.ini" <<'INI'
[MISC]
MaxGroupID=3
MaxServerId=6

[GroupItem1]
GroupName=生产服务器

[GroupItem2]
GroupName=测试环境

[GroupItem3]
GroupName=数据库

[ServerItem1]
GroupId=1
Description=主站 Web 服务器
Server=127.0.0.10
Port=3389
Domain=CORP
User=administrator
Password=
Width=1024
Height=768
FullScreen=0
ColorDeepth=24

[ServerItem2]
GroupId=1
Description=备用 Web 服务器
Server=127.0.0.11
Port=3389
Domain=CORP
User=administrator
Password=
Width=1280
Height=1024
FullScreen=0
ColorDeepth=32

[ServerItem3]
GroupId=2
Description=测试机
Server=127.0.0.20
Port=3390
Domain=
User=tester
Password=
Width=1024
Height=768
FullScreen=0
ColorDeepth=16

[ServerItem4]
GroupId=3
Description=主数据库
Server=127.0.0.30
Port=3389
Domain=CORP
User=dba
Password=
Width=1024
Height=768
FullScreen=1
ColorDeepth=24

[ServerItem5]
GroupId=3
Description=只读副本
Server=127.0.0.31
Port=3389
Domain=CORP
User=dba
Password=
Width=1024
Height=768
FullScreen=0
ColorDeepth=24

[ServerItem6]
GroupId=-1
Description=跳板机
Server=localhost
Port=3389
Domain=
User=admin
Password=
Width=1024
Height=768
FullScreen=0
ColorDeepth=24
INI

. "$root/scripts/virtual-display.sh"
start_virtual_display 91 120

mkdir -m 700 "$work/runtime" "$work/config"
# A settings folder of its own: the window opens at its first-start size.
export DISPLAY="$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config"
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"
"$work/brennic" >"$work/brennic.log" 2>&1 &
app_pid=$!

# Once its window is up (a busy machine takes a while to start it), time for the
# pages to load and the first statuses to come in.
for _ in $(seq 120); do
  xwininfo -root -tree 2>/dev/null | grep -q '"Brennic 1.8 Talvane"' && break
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.5
done
"$build/bench/shell/screen_grab" "$out" 6000
kill -0 "$app_pid" 2>/dev/null || { echo "screenshot: the program ended early:" >&2; cat "$work/brennic.log" >&2; exit 1; }
echo "$out"
