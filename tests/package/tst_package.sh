#!/usr/bin/env bash
# The Debian package as a user gets it: built from this tree by CPack, accepted by
# lintian, unpacked into a temporary root, and the installed program started by a
# normal user, offscreen, until it has rendered its pages.
# Usage: tst_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 0; }

for tool in cpack dpkg-deb; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/setup.sh installs it)"
done

work=$(mktemp -d)
chmod 755 "$work"
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    pkill -KILL -P "$pid" 2>/dev/null || true
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/deb/brennic_*.deb)
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

# What the package declares and holds.
dpkg-deb -f "$deb" Depends | grep -q 'libfreerdp2-2' || fail "no dependency on libfreerdp2-2"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6webenginecore6' || fail "no dependency on Qt WebEngine"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6sql6-psql' || fail "no dependency on the database driver"
dpkg-deb -f "$deb" Depends | grep -q 'fonts-noto-cjk' || fail "no dependency on a font for the Chinese texts"
dpkg-deb -x "$deb" "$work/root"
root=$work/root
appid=invalid.brennic.Brennic
for f in usr/bin/brennic usr/share/applications/$appid.desktop usr/share/metainfo/$appid.metainfo.xml \
         usr/share/mime/packages/$appid.xml \
         usr/share/icons/hicolor/scalable/apps/brennic.svg usr/share/icons/hicolor/48x48/apps/brennic.png \
         usr/share/doc/brennic/copyright usr/share/doc/brennic/changelog.Debian.gz usr/share/man/man1/brennic.1.gz; do
  [ -e "$root/$f" ] || fail "$f is missing from the package"
done
# The RDP client library comes with the backend module, loaded by the first
# session from the program's library folder; the program itself does not link it.
module=$(find "$root/usr/lib" -path '*/brennic/libbrennic_rdp_freerdp2.so' -type f | head -n 1)
[ -n "$module" ] || fail "the RDP backend module is missing from the package"
if ldd "$module" | grep -q 'not found'; then ldd "$module"; fail "the RDP backend module misses libraries"; fi
if ldd "$root/usr/bin/brennic" | grep -q -E 'freerdp|winpr'; then fail "the program links the RDP client library"; fi
# The web engine comes with its module, loaded only when the main window is shown.
webmodule=$(find "$root/usr/lib" -path '*/brennic/libbrennic_web_webengine.so' -type f | head -n 1)
[ -n "$webmodule" ] || fail "the web engine module is missing from the package"
if ldd "$webmodule" | grep -q 'not found'; then ldd "$webmodule"; fail "the web engine module misses libraries"; fi
if ldd "$root/usr/bin/brennic" | grep -q -E 'WebEngine|Quick|Qml|nss3'; then fail "the program links the web engine"; fi
# A double click on an .rdp file opens it: the entry takes the file, and the type is known.
grep -qx 'Exec=brennic %f' "$root/usr/share/applications/$appid.desktop" || fail "the desktop entry takes no file"
grep -q '^MimeType=.*application/x-rdp;' "$root/usr/share/applications/$appid.desktop" || fail "the desktop entry declares no .rdp type"
grep -q '<glob pattern="\*.rdp"/>' "$root/usr/share/mime/packages/$appid.xml" || fail "the .rdp type has no file pattern"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/$appid.desktop" || fail "desktop entry"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/$appid.metainfo.xml" >"$work/appstream.log" 2>&1 \
    || { cat "$work/appstream.log"; fail "appstreamcli validate"; }
  echo "appstream: valid"
else
  echo "appstreamcli is not installed: its check is left out"
fi
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail "lintian reports errors"; }
  grep -v 'root privileges' "$work/lintian.log" || true
  ! grep -q 'hardening-' "$work/lintian.log" || fail "lintian finds the binaries built without hardening"
  echo "lintian: no errors, no hardening tags"
else
  echo "lintian is not installed: its check is left out"
fi

# One version everywhere: the package's, the program's and the manual's.
version=$(dpkg-deb -f "$deb" Version)
version=${version%-*}
shown=$(env -i PATH=/usr/bin:/bin "$root/usr/bin/brennic" --version) || fail "brennic --version without a display"
[ "$shown" = "Brennic $version Talvane" ] || fail "brennic --version says '$shown', the package is $version"
manual=$(zcat "$root/usr/share/man/man1/brennic.1.gz" | sed 's/\\-/-/g')
grep -q "\"Brennic $version\"" <<<"$manual" || fail "the manual page is not of version $version"
grep -q "release version=\"$version\"" "$root/usr/share/metainfo/$appid.metainfo.xml" || fail "the AppStream release is not $version"
# The manual lists every option the program's help names.
help=$(env -i PATH=/usr/bin:/bin "$root/usr/bin/brennic" --help) || fail "brennic --help without a display"
options=$(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u)
[ -n "$options" ] || fail "brennic --help names no option"
for option in $options; do
  grep -q -- "$option" <<<"$manual" || fail "the manual page does not list $option"
done
echo "version $version everywhere; the manual lists $(wc -w <<<"$options") options"

# A normal user starts the installed program.
runas=()
user=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
  user=brennicpkg
  id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
  runas=(setpriv --reuid="$user" --regid="$user" --init-groups)
fi
home=$work/home
mkdir -p "$home/run"
chmod 700 "$home/run"
chown -R "$user:" "$home"
env -i HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/run" PATH=/usr/bin:/bin \
    QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 \
    "${runas[@]}" "$root/usr/bin/brennic" >"$work/run.log" 2>&1 &
pid=$!

descendants() {
  local all=() next=("$1") p
  while [ ${#next[@]} -gt 0 ] && [ ${#all[@]} -lt 256 ]; do
    p=${next[0]}; next=("${next[@]:1}")
    for c in $(pgrep -P "$p" || true); do all+=("$c"); next+=("$c"); done
  done
  echo "${all[@]:-}"
}
# Renderers forked by a zygote keep its command line: a web engine helper whose
# parent is a helper too. Started directly, they say so on their command line.
helper() { grep -qa QtWebEngineProcess "/proc/$1/cmdline" 2>/dev/null; }
renderers() {
  local n=0 c parent
  for c in $(descendants "$1"); do
    helper "$c" || continue
    parent=$(awk '{print $4}' "/proc/$c/stat" 2>/dev/null || echo 0)
    if grep -qa -- --type=renderer "/proc/$c/cmdline" 2>/dev/null || { [ "$parent" != "$1" ] && helper "$parent"; }; then
      n=$((n + 1))
    fi
  done
  echo $n
}

# The program's own pages (the default page and the banner) share one renderer.
for _ in $(seq 300); do
  kill -0 "$pid" 2>/dev/null || break
  [ "$(renderers "$pid")" -ge 1 ] && break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null || { cat "$work/run.log"; fail "the installed program ended by itself"; }
count=$(renderers "$pid")
[ "$count" -ge 1 ] || { cat "$work/run.log"; fail "the installed program started no renderer for its pages"; }
owner=$(stat -c %U "/proc/$pid")
[ "$owner" = "$user" ] || fail "the program ran as $owner, not $user"
echo "the installed program runs as $owner with $count renderers"
