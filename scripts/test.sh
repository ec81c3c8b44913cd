#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: once in a normal build,
# again under AddressSanitizer and UndefinedBehaviorSanitizer, and the tests that
# run threads of their own once more under ThreadSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" --tests

status=0
for kind in normal sanitize; do
  dir="$root/build"; [ "$kind" = sanitize ] && dir="$root/build-sanitize"
  echo "== $kind build" >&2
  "$root/scripts/build.sh" "$kind"
  echo "== $kind tests" >&2
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$dir" --output-on-failure -j 2 || status=1
done

echo "== thread build" >&2
"$root/scripts/build.sh" thread fork_instead_of_vfork
mapfile -t threaded < <(ctest --test-dir "$root/build-thread" -N -L threads | sed -n 's/^ *Test *#[0-9]*: //p')
if [ ${#threaded[@]} -gt 0 ]; then
  "$root/scripts/build.sh" thread "${threaded[@]}"
  echo "== thread tests" >&2
  ctest --test-dir "$root/build-thread" --output-on-failure -j 2 -L threads || status=1
fi
exit $status
