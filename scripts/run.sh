#!/usr/bin/env bash
# Installs what is needed, builds and starts Brennic.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" normal
exec "$root/build/src/shell/brennic" "$@"
