#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Brennic needs.
# Idempotent: when everything is present it returns at once without touching apt.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config
  # Qt 6 widgets, network and web engine
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-webengine-dev qt6-webengine-dev-tools
  libgl-dev libxkbcommon-dev
  # the toolkit's own Chinese texts (standard buttons and dialogs)
  qt6-translations-l10n
  # RDP client library and the loopback RDP test server
  freerdp2-dev libwinpr2-dev freerdp2-shadow-x11 freerdp2-x11 winpr-utils libx11-dev
  # headless display for GUI tests, screenshots; a window manager for the tests of window placement
  xvfb xauth x11-utils x11-apps openbox
  # xrdp as a second RDP test server: its Xorg back end, the test user's desktop, its clipboard
  xrdp xorgxrdp xterm dbus-x11 xclip passwd
  # fonts able to show the Chinese texts
  fonts-noto-cjk fonts-dejavu-core
  # network tests and the comparison prober
  iproute2 nftables fping iputils-ping procps
  # the Debian package and its checks
  file lintian desktop-file-utils
  # the layout check of the sources
  clang-format
  # the libFuzzer harnesses (scripts/fuzz.sh): clang and its sanitizer and fuzzer runtimes
  clang libclang-rt-14-dev
  # asynchronous name look-ups for the probes
  libc-ares-dev
  # the key derivation and cipher of mRemoteNG's passwords (import)
  libssl-dev
  # the libFuzzer harnesses (scripts/fuzz.sh): clang and its fuzzing runtime
  clang libclang-rt-dev
  # the shared catalogue: Qt SQL's PostgreSQL driver, and the server its tests start
  libqt6sql6-psql postgresql
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
