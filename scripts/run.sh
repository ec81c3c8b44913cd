#!/usr/bin/env bash
# Installs what the program needs, builds the program and its modules (RDP, web)
# (no tests, no benchmarks) and starts it. The server list it makes lives in the
# user's configuration folder, ~/.config/brennic/SvrList.ini.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" normal brennic brennic_rdp_freerdp2 brennic_web_webengine
exec "$root/build/src/shell/brennic" "$@"
