#!/usr/bin/env bash
# Installs the Debian packages Brennic needs. Usage: scripts/setup.sh [--tests]
#   (nothing)  what building, packaging and running the program needs
#   --tests    that, and what the test suite adds: the RDP and database servers
#              the tests start, a virtual display and the checking tools
# Idempotent: when everything is present it returns at once without touching apt.
set -euo pipefail

program=(
  # toolchain (build-essential brings dpkg-dev: dpkg-buildflags, dpkg-shlibdeps)
  build-essential cmake ninja-build pkg-config
  # Qt 6 widgets, network and web engine, and the platform plugins that show the windows
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-webengine-dev qt6-webengine-dev-tools
  libgl-dev libxkbcommon-dev qt6-qpa-plugins
  # a session's picture put on its X window from shared memory (MIT-SHM)
  libxcb-shm0-dev
  # the toolkit's own Chinese texts (standard buttons and dialogs)
  qt6-translations-l10n
  # the RDP client library
  freerdp2-dev libwinpr2-dev
  # fonts able to show the Chinese texts
  fonts-noto-cjk fonts-dejavu-core
  # asynchronous name look-ups for the probes
  libc-ares-dev
  # Qt SQL's PostgreSQL driver, for a catalogue shared in a database
  libqt6sql6-psql
  # the key derivation and cipher of mRemoteNG's passwords (import)
  libssl-dev
  # passwords in the desktop keyring (Secret Service), and the library QtKeychain loads to reach it
  qtkeychain-qt6-dev libsecret-1-0
  # the Debian package: CPack finds the libraries it needs with file
  file
)

tests=(
  # the loopback RDP test server and the session tests' X client
  freerdp2-shadow-x11 freerdp2-x11 winpr-utils libx11-dev
  # headless display for GUI tests, screenshots; a window manager for the tests of window placement
  xvfb xauth x11-utils x11-apps openbox
  # xrdp as a second RDP test server: its Xorg back end, the test user's desktop, its clipboard
  xrdp xorgxrdp xterm dbus-x11 xclip passwd
  # network tests and the comparison prober
  iproute2 nftables fping iputils-ping procps
  # the package's checks
  lintian desktop-file-utils appstream
  # the layout check of the sources
  clang-format
  # the database server the shared catalogue's tests start
  postgresql
  # the private D-Bus session and the Secret Service the keyring tests start
  dbus gnome-keyring
  # the libFuzzer harnesses (scripts/fuzz.sh): clang and its sanitizer and fuzzer runtimes
  clang libclang-rt-14-dev
)

packages=("${program[@]}")
case "${1:-}" in
  "") ;;
  --tests) packages+=("${tests[@]}") ;;
  *) echo "usage: $0 [--tests]" >&2; exit 2 ;;
esac

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
