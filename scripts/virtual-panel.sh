#!/usr/bin/env bash
# A virtual panel for a Windows host run under Wine: maps one COM port of your
# Wine prefix to the simulated panel (lcdsim in a window, on a pseudo-terminal
# of its own), or to a real serial device, until Ctrl-C or the window is
# closed; then puts the port back as it was.
#
#   scripts/virtual-panel.sh COMn               COMn -> the simulated panel
#   scripts/virtual-panel.sh COMn DEVICE        COMn -> DEVICE (/dev/ttyUSB0)
#   scripts/virtual-panel.sh COMn -- OPTION...  further lcdsim options
#                                               (--png PATH, --scale N)
#   scripts/virtual-panel.sh -h | --help        this text
#
# The prefix is WINEPREFIX (default ~/.wine). The port is mapped Wine's own way:
# the value COMn (the device's path) under HKLM\Software\Wine\Ports, which
# Wine's device manager reads whenever a Wine session starts, and the prefix's
# dosdevices/comN link, for a session already running. Both are put back at the
# end (the old value and link, or none). Nothing else of the prefix changes;
# Wine runs only to read and write that registry value.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# shellcheck source=steps.sh
source "$root/scripts/steps.sh"
# shellcheck source=wine-ports.sh
source "$root/scripts/wine-ports.sh"
say() { echo "virtual-panel: $*"; }
# fail shows the end of Wine's log, once there is one.
FAIL_HEADING="virtual-panel: what Wine said:"
FAIL_TAIL=20
FAIL_STATUS=2
# The comment at the top, as the usage.
usage_text() {
  sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$0"
}
usage() {
  usage_text >&2
  exit 2
}

case ${1:-} in
-h | --help)
  usage_text
  exit 0
  ;;
esac
[ $# -ge 1 ] || usage
port=$(lcd_wine_com_port "$1") ||
  fail "$port is not a COM port name Wine knows (COM1 to COM$LCD_WINE_HIGHEST_PORT)"
shift
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
command -v wine >/dev/null || fail "wine is not installed"
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
link=$(lcd_wine_dosdevice "$prefix" "$port")
# What the port's link pointed at, to be put back; a port that is more than a link is left alone.
before=$(lcd_wine_link_target "$link") || fail "$link is not a link; leaving it alone"
ports_key='HKLM\Software\Wine\Ports'

lcdsim=${LCDSIM:-$root/build/native/tools/lcdsim}
work=$(mktemp -d "${TMPDIR:-/tmp}/virtual-panel.XXXXXX")
wine_log=$work/wine.log
FAIL_LOG=$wine_log
sim_pid=
target=
old_value=   # the port's value under the Ports key before, when it had one
had_value=0
value_set=0
link_set=0

# Does a wineserver serve this prefix now (the user's host, say)? Its working directory is the
# prefix's server directory, named after the prefix's device and inode.
server_running() {
  local dir pid dev ino
  read -r dev ino < <(stat -L -c '%d %i' "$prefix")
  dir=/tmp/.wine-$(id -u)/server-$(printf '%x-%x' "$dev" "$ino")
  for pid in $(pgrep wineserver 2>/dev/null); do
    [ "$(readlink "/proc/$pid/cwd" 2>/dev/null)" = "$dir" ] && return 0
  done
  return 1
}

# Runs a command line of Wine's cmd in the prefix; its output on stdout, Wine's own in the log.
# A session this starts is waited for, so its device manager has laid out the ports before the
# link is set, and the registry is written out when the script ends.
wine_cmd() {
  local running=0 status=0
  server_running && running=1
  wine cmd /c "$1" </dev/null 2>>"$wine_log" | tr -d '\r' || status=$?
  [ "$running" -eq 1 ] || timeout 120 wineserver -w 2>>"$wine_log" || true
  return "$status"
}

# A value for reg's /d in a command line of cmd, which hands quotes on into the value: quoted
# only when it must be.
reg_data() {
  case "$1" in
    *[[:space:]]*) printf '"%s"' "$1" ;;
    *) printf '%s' "$1" ;;
  esac
}

old_value_text() {
  if [ "$had_value" -eq 1 ]; then echo "= $old_value"; else echo "not set"; fi
}

restore() {
  if [ "$value_set" -eq 1 ]; then
    value_set=0
    local put_back="reg delete $ports_key /v $port /f"
    [ "$had_value" -eq 0 ] || put_back="reg add $ports_key /v $port /t REG_SZ /d $(reg_data "$old_value") /f"
    if ! wine_cmd "$put_back" >>"$wine_log"; then
      echo "virtual-panel: Wine did not put $ports_key\\$port back ($put_back); what it said:" >&2
      tail -n 20 "$wine_log" >&2
    fi
  fi
  if [ "$link_set" -eq 1 ]; then
    link_set=0
    if lcd_wine_point "$link" "$before"; then
      say "$port of $prefix is as it was: $ports_key\\$port $(old_value_text)," \
        "dosdevices link ${before:-none}"
    else
      echo "virtual-panel: $link is no longer a link; left as it is" >&2
    fi
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

# Maps the port to $target, in the registry first (a session that starts from now on lays the
# port out there), then the link (for a session already running).
map_port() {
  local query
  query=$(wine_cmd "reg query $ports_key /v $port & reg add $ports_key /v $port /t REG_SZ /d $(reg_data "$target") /f") ||
    fail "Wine did not take $ports_key\\$port = $target"
  value_set=1
  # The query's answer: "    COMn    REG_SZ    VALUE", when there was a value.
  if old=$(printf '%s\n' "$query" | awk -v p="$port" '
      toupper($1) == p && $2 == "REG_SZ" { sub(/^[ \t]*[^ \t]+[ \t]+REG_SZ[ \t]*/, ""); print; found = 1; exit }
      END { exit !found }'); then
    had_value=1
    old_value=$old
  fi
  lcd_wine_point "$link" "$target" || fail "$link is no longer a link; leaving it alone"
  link_set=1
  say "$port of the Wine prefix $prefix now leads to $1: $ports_key\\$port = $target" \
    "(before: $(old_value_text | sed 's/^= //')), and its dosdevices link (before: ${before:-none})"
}

if [ -n "$device" ]; then
  [ -c "$device" ] || fail "$device is not a serial device (not a character device)"
  target=$device
  map_port "$device"
  say "start your host under Wine and choose $port; Ctrl-C puts $port back"
  while true; do sleep 1; done
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
map_port "the simulated panel ($target)"
say "start your host under Wine and choose $port; close the panel's window or press Ctrl-C to end"
while kill -0 "$sim_pid" 2>/dev/null; do
  sleep 0.2 || true
done
status=0
wait "$sim_pid" || status=$?
sim_pid=
restore
echo
echo "== the simulated panel (lcdsim)"
grep -vxF "$target" "$work/lcdsim.log" || true
exit "$status"
