#!/usr/bin/env bash
# Takes a picture of the manager with a few groups and online and offline servers,
# under Xvfb, and one of it with a row's tooltip shown, beside the first
# (OUTPUT-tooltip.png). Usage: scripts/screenshot-manager.sh [OUTPUT.png]
# Runs in a private network namespace of its own with only loopback up: the
# servers on 127.0.0.x answer, the 10.251.0.x ones have no route and read Offline,
# and nothing leaves the machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/build/manager.png}")
tooltip_out="${out%.png}-tooltip.png"
mkdir -p "$(dirname "$out")"
"$root/scripts/setup.sh" --tests
"$root/scripts/build.sh" normal >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/SvrList.ini" <<'INI'
[MISC]
MaxGroupID=3
MaxServerId=7

[GroupItem1]
GroupName=生产服务器

[GroupItem2]
GroupName=测试环境

[GroupItem3]
GroupName=数据库

[ServerItem1]
GroupId=1
Server=127.0.0.10
Port=3390
User=administrator
Domain=CORP
Description=主站 Web 服务器

[ServerItem2]
GroupId=1
Server=10.251.0.5
User=administrator
Description=备用（已停机）

[ServerItem3]
GroupId=1
Server=127.0.0.11
User=deploy
Description=负载均衡

[ServerItem4]
GroupId=2
Server=127.0.0.12
User=测试用户
Description=测试机，端口非默认

[ServerItem5]
GroupId=2
Server=10.251.0.6
User=qa
Description=夜间构建

[ServerItem6]
GroupId=3
Server=127.0.0.13
User=dba
Description=主库

[ServerItem7]
GroupId=-1
Server=127.0.0.14
User=root
Description=
INI

unshare -rn bash -c '
  set -e
  ip link set lo up
  export XDG_RUNTIME_DIR="$1/xdg"; mkdir -m 700 "$XDG_RUNTIME_DIR"
  d=97; while [ -e /tmp/.X$d-lock ] && [ $d -lt 140 ]; do d=$((d + 1)); done
  Xvfb :$d -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap "kill $xvfb 2>/dev/null" EXIT
  for i in $(seq 50); do [ -e /tmp/.X11-unix/X$d ] && break; sleep 0.1; done
  DISPLAY=:$d QT_QPA_PLATFORM=xcb "$2/build/bench/manager/manager_demo" "$1/SvrList.ini" "$3" 6 "$4"
' _ "$work" "$root" "$out" "$tooltip_out"
echo "$out"
echo "$tooltip_out"
