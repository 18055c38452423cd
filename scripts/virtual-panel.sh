#!/usr/bin/env bash
# A virtual panel for a Windows host run under Wine: points one COM port of the user's Wine
# prefix at the simulated panel (lcdsim in a window, on a pseudo-terminal of its own), or at a
# real serial device, until Ctrl-C or the window is closed; then puts the port back as it was.
#
#   scripts/virtual-panel.sh COMn                  COMn -> the simulated panel, in a window
#   scripts/virtual-panel.sh COMn DEVICE           COMn -> DEVICE (e.g. /dev/ttyUSB0)
#   scripts/virtual-panel.sh COMn -- OPTIONS...    further lcdsim options (--png PATH, --scale N)
#
# The prefix is WINEPREFIX (default ~/.wine). Only its dosdevices/comN link changes; nothing
# else of the prefix is touched, and no Wine program is started.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

say() { echo "virtual-panel: $*"; }
fail() { echo "virtual-panel: $*" >&2; exit 2; }
usage() {
  sed -n 's/^#   \(scripts\/virtual-panel.sh\)/usage: \1/p' "$0" >&2
  exit 2
}

[ $# -ge 1 ] || usage
port=$(echo "$1" | tr '[:lower:]' '[:upper:]')
shift
if ! [[ $port =~ ^COM([1-9][0-9]{0,2})$ ]] || [ "${BASH_REMATCH[1]}" -gt 256 ]; then
  fail "$port is not a COM port name Wine knows (COM1 to COM256)"
fi
device=
if [ $# -ge 1 ] && [ "$1" != -- ]; then
  device=$1
  shift
fi
if [ $# -ge 1 ]; then
  [ "$1" = -- ] || usage
  shift
  [ -z "$device" ] || fail "lcdsim options go with the simulated panel, not with a device"
fi
sim_options=("$@")

prefix=${WINEPREFIX:-$HOME/.wine}
[ -d "$prefix/dosdevices" ] ||
  fail "no Wine prefix at $prefix (WINEPREFIX); run your host under Wine once to make it"
link=$prefix/dosdevices/$(echo "$port" | tr '[:upper:]' '[:lower:]')
# What the port pointed at, to be put back; a port that is more than a link is left alone.
before=
if [ -L "$link" ]; then
  before=$(readlink "$link")
elif [ -e "$link" ]; then
  fail "$link is not a link; leaving it alone"
fi

lcdsim=${LCDSIM:-$root/build/native/tools/lcdsim}
work=$(mktemp -d "${TMPDIR:-/tmp}/virtual-panel.XXXXXX")
sim_pid=
target=
changed=0

restore() {
  if [ "$changed" -eq 1 ]; then
    if [ -n "$before" ]; then
      ln -sfn "$before" "$link"
      say "$port of $prefix points at $before again"
    else
      rm -f "$link"
      say "$port of $prefix is unmapped again, as it was"
    fi
    changed=0
  fi
}
finish() {
  local status=$?
  trap - EXIT INT TERM HUP
  if [ -n "$sim_pid" ]; then
    kill -INT "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
  fi
  restore
  rm -rf "$work"
  exit "$status"
}
trap finish EXIT
# Ctrl-C ends the simulated panel the way closing its window does (its report follows); with
# a device, or before the panel runs, it ends the script.
on_stop() {
  if [ -n "$sim_pid" ]; then kill -INT "$sim_pid" 2>/dev/null || true; else exit "$1"; fi
}
trap 'on_stop 130' INT
trap 'on_stop 143' TERM HUP

point_port() {
  ln -sfn "$target" "$link"
  changed=1
  say "$port of $prefix now points at $1 (before: ${before:-not mapped})"
}

# Wine's device manager lays out the COM ports when a Wine session starts and may re-point
# this one at a device of its own: point it back at once, for as long as the panel runs.
keep_port() {
  if [ "$(readlink "$link" 2>/dev/null)" != "$target" ]; then
    ln -sfn "$target" "$link"
    say "$port was re-pointed (Wine lays out its ports when a session starts); it points at $target again"
  fi
}

if [ -n "$device" ]; then
  [ -c "$device" ] || fail "$device is not a serial device (not a character device)"
  target=$device
  point_port "$device"
  say "start your host under Wine and choose $port; Ctrl-C puts $port back"
  while true; do
    keep_port
    sleep 0.5
  done
fi

[ -x "$lcdsim" ] || fail "$lcdsim is not built (cmake --preset native && cmake --build --preset native --target lcdsim)"
"$lcdsim" --pty --pty-file "$work/pty" --window "${sim_options[@]}" >"$work/lcdsim.log" 2>&1 &
sim_pid=$!
while [ ! -s "$work/pty" ] && kill -0 "$sim_pid" 2>/dev/null; do sleep 0.05; done
if [ ! -s "$work/pty" ]; then
  status=0
  wait "$sim_pid" || status=$?
  sim_pid=
  cat "$work/lcdsim.log" >&2
  exit "$status"
fi
target=$(cat "$work/pty")
point_port "the simulated panel ($target)"
say "start your host under Wine and choose $port; close the panel's window or press Ctrl-C to end"
while kill -0 "$sim_pid" 2>/dev/null; do
  keep_port
  sleep 0.5 || true
done
status=0
wait "$sim_pid" || status=$?
sim_pid=
restore
echo
echo "== the simulated panel (lcdsim)"
grep -vxF "$target" "$work/lcdsim.log" || true
exit "$status"
