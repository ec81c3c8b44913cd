#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: once in a normal build,
# then again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

status=0
for kind in normal sanitize; do
  dir="$root/build"; [ "$kind" = sanitize ] && dir="$root/build-sanitize"
  echo "== $kind build" >&2
  "$root/scripts/build.sh" "$kind"
  echo "== $kind tests" >&2
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$dir" --output-on-failure -j 2 || status=1
done
exit $status
