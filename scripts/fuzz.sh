#!/usr/bin/env bash
# Runs every libFuzzer harness of the tree for SECONDS each (default 60), in a
# clang build of its own (./build-fuzz, AddressSanitizer and UndefinedBehaviorSanitizer).
# Not part of the test suite. A finding leaves its input in build-fuzz/findings/<harness>/
# and makes the script exit 1; turn each one into a test.
# Usage: scripts/fuzz.sh [SECONDS] [HARNESS ...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
command -v clang++ >/dev/null || { echo "clang++ is needed: apt-get install clang" >&2; exit 2; }
dir="$root/build-fuzz"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBRENNIC_FUZZ=ON -DBRENNIC_WERROR=OFF ${BRENNIC_CMAKE_FLAGS:-} >/dev/null
mapfile -t entries < "$dir/fuzzers.txt"
status=0
for entry in "${entries[@]}"; do
  [ -n "$entry" ] || continue
  name=${entry%%=*}
  start=${entry#*=}
  if (($#)) && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
  cmake --build "$dir" -j "$(nproc)" --target "$name"
  corpus="$dir/corpus/$name"
  findings="$dir/findings/$name"
  mkdir -p "$corpus" "$findings"
  [ -d "$start" ] && cp -n "$start"/* "$corpus"/ 2>/dev/null || true
  echo "== $name, ${seconds} s" >&2
  if ! (cd "$findings" && ASAN_OPTIONS=detect_leaks=1 "$dir/$(cd "$dir" && find . -name "$name" -type f -executable | head -1)" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$corpus"); then
    echo "== $name: finding in $findings" >&2
    status=1
  fi
done
exit $status
