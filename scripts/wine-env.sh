# Wine for the 32-bit driver: source this file, then call lcd_wine_init.
#
#   lcd_wine_init                  make Wine usable and create the private prefix once
#   lcd_wine_map_port COMn DEVICE  point a COM port of the prefix at a Linux terminal
#   lcd_wine_run PROGRAM.exe ...   run a Windows program in the prefix
#   lcd_wine_stop                  stop the prefix's wineserver
#
# The prefix is created once per machine, in the user's cache (LCD_WINEPREFIX overrides), so
# clean clones and CI runs reuse it. Kernels built without 32-bit process support (or
# with it switched off) cannot start Wine's 32-bit loader; there the loader runs under
# qemu-i386 user emulation, registered through binfmt_misc (needs root once per boot). That is
# slower, but it is still Wine's own PE loader and KERNEL32 serial layer running the DLL.

LCD_ROOT=${LCD_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${LCD_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/lcd_driver/wine-prefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers, no desktop menu entries: the tests need none of them.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Programs run by lcd_wine_run are console programs talking to a COM port: they need no
# desktop, device manager or service host, and starting those costs minutes under emulation.
LCD_WINE_RUN_OVERRIDES="$WINEDLLOVERRIDES;explorer.exe=d;services.exe=d;plugplay.exe=d;winedevice.exe=d;svchost.exe=d"

# COM ports the tests and the demo use. High numbers, so no /dev/ttyS* of the machine
# competes for them when Wine lays out its devices.
LCD_WINE_PORTS=(COM40 COM41)

lcd_wine_can_run_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

lcd_wine_enable_emulation() {
  local binfmt=/proc/sys/fs/binfmt_misc
  [ -x /usr/bin/qemu-i386-static ] || { echo "wine-env: qemu-user-static is missing" >&2; return 1; }
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
  fi
  if [ ! -e "$binfmt/qemu-i386" ] && [ -w "$binfmt/register" ]; then
    # 32-bit x86 ELF executables and shared objects, run through the emulator (F: the
    # interpreter is opened now, so it works inside any mount namespace later).
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      > "$binfmt/register" || true
  fi
  lcd_wine_can_run_32bit
}

lcd_wine_port_link() { # the stable path a COM port of the prefix points at
  echo "$WINEPREFIX-ports/$(echo "$1" | tr '[:upper:]' '[:lower:]')"
}

lcd_wine_init() {
  command -v wine >/dev/null || { echo "wine-env: wine is not installed" >&2; return 1; }
  if ! lcd_wine_can_run_32bit && ! lcd_wine_enable_emulation; then
    echo "wine-env: this machine cannot run Wine's 32-bit loader" >&2
    return 1
  fi
  # 32-bit programs go through the emulator when its binfmt entry is what runs them.
  export LCD_WINE_EMULATED=0
  if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
    LCD_WINE_EMULATED=1
  fi
  mkdir -p "$WINEPREFIX-ports" "$(dirname "$WINEPREFIX")"
  # One creator at a time: a second script waits here rather than wiping a prefix being made.
  # -o keeps the lock from Wine's own processes, which outlive the creation.
  flock -o "$WINEPREFIX.lock" bash -c 'source "$1" && lcd_wine_create_prefix' _ "${BASH_SOURCE[0]}" ||
    return 1
  # The prefix's device links for the ports. Programs run without Wine's device manager, which
  # would otherwise make them from the registry.
  local port
  for port in "${LCD_WINE_PORTS[@]}"; do
    ln -sfn "$(lcd_wine_port_link "$port")" \
      "$WINEPREFIX/dosdevices/$(echo "$port" | tr '[:upper:]' '[:lower:]')"
  done
}

# Waits for the prefix's processes to finish, then stops what is left: under emulation the
# desktop and device processes that the first boot starts can linger for many minutes.
# Stopping the wineserver also writes the registry out to the prefix.
lcd_wine_settle() {
  timeout 60 wineserver -w 2>/dev/null || true
  lcd_wine_stop
  timeout 60 wineserver -w 2>/dev/null || true
}

lcd_wine_ports_registered() {
  grep -q "\"${LCD_WINE_PORTS[0]}\"=" "$WINEPREFIX/system.reg" 2>/dev/null
}

lcd_wine_create_prefix() {
  [ -f "$WINEPREFIX/.lcd-ready" ] && return 0
  echo "wine-env: creating the Wine prefix in $WINEPREFIX (once; minutes under emulation)" >&2
  local log="$WINEPREFIX.log" attempt
  : >"$log"
  rm -rf "$WINEPREFIX"
  for attempt in 1 2 3; do
    # Under a slow emulator the first start can outlast Wine's own wait for the boot to finish
    # and report failure while the boot goes on. Wine marks a finished set-up with
    # .update-timestamp; until then another wineboot carries on where the last one stopped.
    wineboot -i >>"$log" 2>&1 || true
    lcd_wine_settle
    [ -f "$WINEPREFIX/.update-timestamp" ] && [ -f "$WINEPREFIX/system.reg" ] && break
    echo "wine-env: the Wine prefix is not finished yet (attempt $attempt); see $log" >&2
  done
  # The COM ports point at fixed links beside the prefix, which lcd_wine_map_port re-points
  # at a terminal: the prefix is set up once, each run brings its own terminal. Writing the
  # mapping is also the check that the new prefix runs programs.
  local port reg="$WINEPREFIX/ports.reg"
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for port in "${LCD_WINE_PORTS[@]}"; do
      printf '"%s"="%s"\r\n' "$port" "$(lcd_wine_port_link "$port")"
    done
  } >"$reg" || return 1
  for attempt in 1 2 3; do
    WINEDLLOVERRIDES=$LCD_WINE_RUN_OVERRIDES wine regedit /S "Z:${reg//\//\\}" >>"$log" 2>&1 || true
    lcd_wine_settle
    lcd_wine_ports_registered && break
  done
  if ! lcd_wine_ports_registered; then
    echo "wine-env: the new Wine prefix does not run programs; the end of $log:" >&2
    tail -n 20 "$log" >&2
    return 1
  fi
  touch "$WINEPREFIX/.lcd-ready"
}

lcd_wine_map_port() { # COMn DEVICE (COMn one of LCD_WINE_PORTS)
  ln -sfn "$2" "$(lcd_wine_port_link "$1")"
}

lcd_wine_run() {
  WINEDLLOVERRIDES=$LCD_WINE_RUN_OVERRIDES wine "$@"
}

lcd_wine_stop() {
  wineserver -k 2>/dev/null || true
}
