#!/usr/bin/env bash
# Configures and builds one tree. Usage: scripts/build.sh [normal|sanitize|thread] [target ...]
#   normal    ./build
#   sanitize  ./build-sanitize, AddressSanitizer + UndefinedBehaviorSanitizer
#   thread    ./build-thread, ThreadSanitizer
# Extra arguments name the targets to build; without them the whole tree is built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-normal}
shift || true
case "$kind" in
  normal)   dir="$root/build";          flags=(-DBRENNIC_SANITIZE=OFF) ;;
  sanitize) dir="$root/build-sanitize"; flags=(-DBRENNIC_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  thread)   dir="$root/build-thread";   flags=(-DBRENNIC_SANITIZE_THREAD=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  *) echo "usage: $0 [normal|sanitize|thread] [target ...]" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$dir" -G Ninja -DBRENNIC_WERROR=ON "${flags[@]}" ${BRENNIC_CMAKE_FLAGS:-} >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
