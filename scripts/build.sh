#!/usr/bin/env bash
# Configures and builds one tree. Usage: scripts/build.sh [normal|sanitize]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-normal}
case "$kind" in
  normal)   dir="$root/build";          flags=(-DBRENNIC_SANITIZE=OFF) ;;
  sanitize) dir="$root/build-sanitize"; flags=(-DBRENNIC_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  *) echo "usage: $0 [normal|sanitize]" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
