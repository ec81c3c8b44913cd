#!/usr/bin/env bash
# Builds the Debian package of Brennic. Usage: scripts/package.sh [output-folder]
# Prints the path of the .deb it made.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/package}
"$root/scripts/setup.sh"
"$root/scripts/build.sh" normal >&2
mkdir -p "$out"
out=$(cd "$out" && pwd)
(cd "$root/build" && cpack -G DEB -B "$out" >&2)
rm -rf "$out/_CPack_Packages"
ls -t "$out"/brennic_*.deb | head -n 1
