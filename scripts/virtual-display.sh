# Sourced by the screenshot scripts: start_virtual_display FIRST LAST starts Xvfb
# (1280x800) on the first free display number between FIRST and LAST and sets
# $display and $xvfb_pid; the caller stops it.
start_virtual_display() {
  display=""
  for n in $(seq "$1" "$2"); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
  done
  [ -n "$display" ] || { echo "screenshot: no free X display number" >&2; return 1; }
  Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
}
