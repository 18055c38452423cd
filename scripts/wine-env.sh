# shellcheck shell=bash
# Wine for the Windows builds: set LCD_WINE_ARCH (win32, the default: the 32-bit driver under
# 32-bit Wine; win64: the win64 build under Wine's 64-bit loader), source this file, then call
# lcd_wine_init.
#
#   lcd_wine_check                 is this build's Wine usable here? (sets LCD_WINE_EMULATED and
#                                  LCD_WINE_HOW); status 3: only in lcd_wine_namespace
#   lcd_wine_init                  lcd_wine_check, then create the private prefix once
#   lcd_wine_enter COMMAND...      runs COMMAND where this build's Wine runs: here, or in
#                                  lcd_wine_namespace; status 77 with the reason where neither
#   lcd_wine_map_port COMn DEVICE  point COMn (COM1 to COM256) of the prefix at a Linux terminal
#   lcd_wine_run PROGRAM.exe ...   run a Windows program in the prefix, with a wineserver of its
#                                  own that is stopped when the program ends
#   lcd_wine_server_start          a wineserver for several runs (lcd_wine_run and plain
#   lcd_wine_server_stop           `wine` then use it), stopped by lcd_wine_server_stop
#   lcd_wine_stop                  stop the prefix's wineserver, whoever started it
#   lcd_wine_server_running        is there one?
#
# Each build has its private prefix, created once per machine, in the user's cache, so clean
# clones and CI runs reuse it; it is created only in an absent or empty directory, or in one
# that carries the marker left by an earlier creation. Sourcing this file sets WINEPREFIX to
# it, and says so when WINEPREFIX named a prefix that is not the project's. LCD_WINEPREFIX
# names the prefix to use instead: an absent or empty directory (made into a prefix here), or
# a Wine prefix of the user's own, used as it is (every COM port mapped in it is announced).
# Everything Wine and its server say goes to LCD_WINE_LOG (default: beside the prefix), never
# to the terminal.
#
# Kernels built without 32-bit process support (or with it switched off) cannot start Wine's
# 32-bit loader. There the win32 build runs in a user and mount namespace of its own
# (lcd_wine_namespace), whose own binfmt_misc (Linux 6.7 and later) hands 32-bit programs to
# qemu-i386 10 from bookworm-backports, fetched once into the project's cache: still Wine's own
# PE loader and KERNEL32 serial layer running the DLL, and nothing changes outside the
# namespace. LCD_WINE_EMULATE=1 takes that way even where the kernel runs 32-bit programs.

LCD_ROOT=${LCD_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
# shellcheck source=wine-ports.sh
source "$LCD_ROOT/scripts/wine-ports.sh"
LCD_CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/lcd_driver
export LCD_WINE_ARCH=${LCD_WINE_ARCH:-win32}
case "$LCD_WINE_ARCH" in
  win32) LCD_PROJECT_WINEPREFIX=$LCD_CACHE/wine-prefix ;;
  win64)
    LCD_PROJECT_WINEPREFIX=$LCD_CACHE/wine64-prefix
    # Debian's `wine` starts the 32-bit loader first, even for a 64-bit program, and a kernel
    # without 32-bit support cannot: here `wine` is the 64-bit loader itself, for these
    # scripts and every program they start (the Wine tests, scripts/virtual-panel.sh).
    case ":$PATH:" in
      *":$LCD_ROOT/scripts/wine64:"*) ;;
      *) export PATH=$LCD_ROOT/scripts/wine64:$PATH ;;
    esac
    ;;
  *)
    echo "wine-env: LCD_WINE_ARCH is win32 or win64, not '$LCD_WINE_ARCH'" >&2
    return 1
    ;;
esac
if [ -z "${LCD_WINEPREFIX:-}" ] && [ -n "${WINEPREFIX:-}" ] &&
   [ "$WINEPREFIX" != "$LCD_PROJECT_WINEPREFIX" ] &&
   [ "$WINEPREFIX" != "$LCD_CACHE/wine-prefix" ] && [ "$WINEPREFIX" != "$LCD_CACHE/wine64-prefix" ]; then
  echo "wine-env: WINEPREFIX is now the project's prefix $LCD_PROJECT_WINEPREFIX, not" \
    "$WINEPREFIX; to use that one, set LCD_WINEPREFIX=$WINEPREFIX before sourcing" >&2
fi
export WINEPREFIX=${LCD_WINEPREFIX:-$LCD_PROJECT_WINEPREFIX}
export WINEARCH=$LCD_WINE_ARCH
export WINEDEBUG=${WINEDEBUG:--all}
export LCD_WINE_LOG=${LCD_WINE_LOG:-$WINEPREFIX.log}
# No Mono or Gecko installers, no desktop menu entries: the tests need none of them.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Programs run by lcd_wine_run are console programs talking to a COM port: they need no
# desktop, device manager or service host, and starting those costs minutes under emulation.
LCD_WINE_RUN_OVERRIDES="$WINEDLLOVERRIDES;explorer.exe=d;services.exe=d;plugplay.exe=d;winedevice.exe=d;svchost.exe=d"

# COM ports the tests and the demo use. High numbers, so no /dev/ttyS* of the machine
# competes for them when Wine lays out its devices.
LCD_WINE_PORTS=(COM40 COM41)

# Left in a prefix this file created, from its first moment; .lcd-ready once it is finished.
LCD_WINE_MARKER=.lcd-driver-prefix
# Left beside the prefix when Wine's loader was found unable to start on this machine.
LCD_WINE_CANNOT_START=$WINEPREFIX.cannot-start
# Seconds a server of ours outlives its last program, should nobody stop it (a script killed
# outright); long enough to carry a test from one Wine program to the next.
LCD_WINE_SERVER_LINGER=30
LCD_WINE_SERVER_PID=

# The emulator for the win32 build where the kernel runs no 32-bit programs: qemu-i386 of QEMU
# 10 (bookworm's 7.2 is slow and crashes under Wine), from Debian's qemu-user package in
# bookworm-backports. Only that one program is kept, in the project's cache; nothing is
# installed.
LCD_QEMU_DIR=$LCD_CACHE/qemu
LCD_QEMU=$LCD_QEMU_DIR/qemu-i386
# binfmt_misc's entry for 32-bit x86 ELF executables and shared objects, the interpreter's path
# and flag F to follow (F: the interpreter is opened at registration).
LCD_BINFMT_I386=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'

lcd_wine_can_run_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Runs COMMAND... in a user and mount namespace of its own whose binfmt_misc (an instance of
# its own, Linux 6.7 and later) hands 32-bit x86 programs to $LCD_QEMU. Everything started
# inside sees the handler; outside nothing changes, and it all goes when the namespace's
# processes end. Status 77, with the reason, when such a namespace cannot be made here.
lcd_wine_namespace() { # COMMAND...
  unshare --user --map-root-user --mount bash -c '
    if ! mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null ||
       ! printf "%s" "$1$2:F" >/proc/sys/fs/binfmt_misc/register 2>/dev/null; then
      echo "wine-env: a user namespace here cannot have a binfmt_misc of its own for" \
        "qemu-i386 (Linux 6.7 or later is needed; this is $(uname -r))" >&2
      exit 77
    fi
    shift 2
    export LCD_WINE_NAMESPACE=1
    exec "$@"' _ "$LCD_BINFMT_I386" "$LCD_QEMU" "$@" && return 0
  local status=$?
  # unshare itself failed: user namespaces are switched off or not allowed to this user.
  [ "$status" -ne 1 ] || unshare --user --map-root-user true 2>/dev/null || {
    echo "wine-env: no user namespace can be made here (unshare --user is refused), and" \
      "32-bit Wine needs one for qemu-i386 on this kernel" >&2
    return 77
  }
  return "$status"
}

# Does the kernel itself run Wine's 32-bit loader? Asked in a namespace whose binfmt_misc is
# empty, so that no handler registered for the whole machine (an emulator left by an earlier
# set-up) answers for it; asked directly only where no namespace can be made, and then a
# qemu-i386 handler seen registered means no.
lcd_wine_native_32bit() {
  [ "${LCD_WINE_EMULATE:-0}" = 1 ] && return 1
  local status=0
  unshare --user --map-root-user --mount sh -c '
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || exit 125
    /usr/lib/wine/wine --version >/dev/null 2>&1 || exit 126' 2>/dev/null || status=$?
  case "$status" in
    0) return 0 ;;
    126) return 1 ;;
  esac
  ! grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null && lcd_wine_can_run_32bit
}

lcd_wine_version() { # LOADER: its Wine version, e.g. 8.0
  "$1" --version 2>/dev/null | sed -nE '1s/^wine-([0-9.]+).*/\1/p'
}

lcd_qemu_version() { # of $LCD_QEMU, e.g. 10.0; fails unless it runs and is 10 or later
  local version
  version=$("$LCD_QEMU" --version 2>/dev/null | sed -nE '1s/.*version ([0-9]+)\.([0-9]+).*/\1.\2/p')
  [ -n "$version" ] && [ "${version%%.*}" -ge 10 ] && echo "$version"
}

# Fetches qemu-i386 into $LCD_QEMU once: apt-get download of qemu-user from bookworm-backports
# through a temporary sources list and apt state of its own (the machine's sources and lists
# stay as they are; apt checks the package against the suite's signed index), then only
# qemu-i386 is taken out of the package. Says so in one line when it fetches.
lcd_wine_fetch_qemu() {
  lcd_qemu_version >/dev/null && return 0
  if ! command -v apt-get >/dev/null || ! command -v dpkg-deb >/dev/null; then
    echo "wine-env: qemu-i386 comes from Debian's bookworm-backports, and apt-get is not here" >&2
    return 1
  fi
  mkdir -p "$LCD_QEMU_DIR" || return 1
  # One fetch at a time; a second caller finds the first one's result.
  exec {lock}>"$LCD_QEMU_DIR/.lock" && flock "$lock" || return 1
  if lcd_qemu_version >/dev/null; then exec {lock}>&-; return 0; fi
  local tmp uri status=0 deb found
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/lcd-qemu.XXXXXX") || return 1
  mkdir -p "$tmp/parts" "$tmp/lists/partial" "$tmp/cache/archives/partial" "$tmp/x"
  # The machine's own Debian mirror, and Debian's own.
  uri=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' 2>/dev/null |
    awk '$2 == "bookworm" { print $1; exit }')
  printf '%s\n' ${uri:+"$uri"} http://deb.debian.org/debian/ | sort -u |
    sed "s#.*#deb [arch=$(dpkg --print-architecture)] & bookworm-backports main#" >"$tmp/sources.list"
  local apt=(-o "Dir::Etc::SourceList=$tmp/sources.list" -o "Dir::Etc::SourceParts=$tmp/parts"
    -o "Dir::State::Lists=$tmp/lists" -o "Dir::Cache=$tmp/cache" -o Dir::Cache::pkgcache=
    -o Dir::Cache::srcpkgcache=)
  [ "$(id -u)" -ne 0 ] || apt+=(-o APT::Sandbox::User=root)
  echo "wine-env: fetching qemu-i386 (Debian's qemu-user from bookworm-backports, about 63 MB)" \
    "into $LCD_QEMU_DIR, once; nothing is installed" >&2
  {
    (cd "$tmp" || exit 1; apt-get "${apt[@]}" update; apt-get "${apt[@]}" download qemu-user/bookworm-backports) &&
      deb=$(ls "$tmp"/qemu-user_*.deb) &&
      dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$tmp/x" --wildcards './usr/bin/qemu-i386*'
  } >"$tmp/fetch.log" 2>&1 || status=$?
  # The package names it qemu-i386; older ones had qemu-i386-static.
  found=$(ls "$tmp"/x/usr/bin/qemu-i386 "$tmp"/x/usr/bin/qemu-i386-static 2>/dev/null | head -n 1)
  if [ "$status" -eq 0 ] && [ -n "$found" ] && install -m 755 "$found" "$LCD_QEMU.new" &&
     mv "$LCD_QEMU.new" "$LCD_QEMU" && lcd_qemu_version >/dev/null; then
    rm -rf "$tmp"
    exec {lock}>&-
    return 0
  fi
  rm -f "$LCD_QEMU.new" "$LCD_QEMU"
  echo "wine-env: qemu-i386 could not be fetched from bookworm-backports:" \
    "$(grep -E '^(E|W): ' "$tmp/fetch.log" | head -n 1 | cut -c1-160)" >&2
  rm -rf "$tmp"
  exec {lock}>&-
  return 1
}

# What Wine's start depends on: the kernel, Wine, and the emulator when there is one.
lcd_wine_machine_id() {
  echo "$(uname -r) $(stat -c %Y /usr/lib/wine/wine /usr/lib/wine/wine64 2>/dev/null | paste -sd' ' -)" \
    "${LCD_WINE_ARCH}${LCD_WINE_NAMESPACE:+ $(lcd_qemu_version)}"
}

# Is this build's Wine usable here? Sets LCD_WINE_EMULATED (1 under qemu-i386) and LCD_WINE_HOW
# (which build under which Wine, in words). Status 3: the win32 build runs here only inside
# lcd_wine_namespace (see lcd_wine_enter); 1 with the reason otherwise.
lcd_wine_check() {
  command -v wine >/dev/null || { echo "wine-env: wine is not installed" >&2; return 1; }
  # Found once per machine: a loader that cannot start is not tried again for minutes on every
  # run, until the kernel, Wine or the emulator changes.
  if [ "$(cat "$LCD_WINE_CANNOT_START" 2>/dev/null)" = "$(lcd_wine_machine_id)" ]; then
    echo "wine-env: Wine's $([ "$LCD_WINE_ARCH" = win64 ] && echo 64 || echo 32)-bit loader" \
      "does not start on this machine (found earlier; remove $LCD_WINE_CANNOT_START to try again)" >&2
    return 1
  fi
  export LCD_WINE_EMULATED=0
  if [ "$LCD_WINE_ARCH" = win64 ]; then
    if ! /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
      echo "wine-env: Wine's 64-bit loader (/usr/lib/wine/wine64, Debian's wine64) does not run here" >&2
      return 1
    fi
    LCD_WINE_HOW="win64 build under 64-bit Wine $(lcd_wine_version /usr/lib/wine/wine64)"
  elif [ "${LCD_WINE_NAMESPACE:-0}" = 1 ]; then
    if ! lcd_wine_can_run_32bit; then
      echo "wine-env: Wine's 32-bit loader does not start under $LCD_QEMU" >&2
      return 1
    fi
    LCD_WINE_EMULATED=1
    LCD_WINE_HOW="win32 build under 32-bit Wine $(lcd_wine_version /usr/lib/wine/wine) through qemu-i386 $(lcd_qemu_version) in a user namespace"
  elif lcd_wine_native_32bit; then
    LCD_WINE_HOW="win32 build under 32-bit Wine $(lcd_wine_version /usr/lib/wine/wine), natively"
  else
    LCD_WINE_HOW="win32 build under 32-bit Wine through qemu-i386 $(lcd_qemu_version || echo 10) in a user namespace"
    export LCD_WINE_HOW
    return 3
  fi
  export LCD_WINE_HOW
}

# Runs COMMAND... where this build's Wine runs: here, or for the win32 build on a kernel that
# runs no 32-bit programs (or with LCD_WINE_EMULATE=1), in lcd_wine_namespace with qemu-i386
# fetched once. Status 77, with the reason, where Wine cannot run this build at all.
lcd_wine_enter() { # COMMAND...
  local status=0
  lcd_wine_check || status=$?
  case "$status" in
    0) "$@"; return ;;
    3) ;;
    *) return 77 ;;
  esac
  lcd_wine_fetch_qemu || return 77
  lcd_wine_namespace "$@"
}

lcd_wine_port_link() { # the stable path a COM port of the prefix points at
  echo "$WINEPREFIX-ports/$(echo "$1" | tr '[:upper:]' '[:lower:]')"
}

lcd_wine_init() {
  lcd_wine_check || return 1
  mkdir -p "$(dirname "$WINEPREFIX")" || return 1
  # One creator at a time: a second script waits here rather than meddling with a prefix being
  # made. -o keeps the lock from Wine's own processes, which outlive the creation.
  flock -o "$WINEPREFIX.lock" bash -c 'source "$1" && lcd_wine_create_prefix' _ "${BASH_SOURCE[0]}" ||
    return 1
  # The prefix's device links for the ports. Programs run without Wine's device manager, which
  # would otherwise make them from the registry.
  local port
  mkdir -p "$WINEPREFIX-ports" || return 1
  for port in "${LCD_WINE_PORTS[@]}"; do
    lcd_wine_link_dosdevice "$port" "$(lcd_wine_port_link "$port")" || return 1
  done
}

# Points the prefix's device link of COMn at the port's stable link beside the prefix, if it
# leads elsewhere. A prefix made elsewhere (the user's own) is changed only with a word about
# it: WHAT the port now leads to, and HOW (through the stable link), in words.
lcd_wine_link_dosdevice() { # COMn WHAT [HOW]
  local dosdevice link old
  dosdevice=$(lcd_wine_dosdevice "$WINEPREFIX" "$1")
  link=$(lcd_wine_port_link "$1")
  if ! old=$(lcd_wine_link_target "$dosdevice"); then
    echo "wine-env: $dosdevice is not a link; leaving it alone" >&2
    return 1
  fi
  [ "$old" != "$link" ] || return 0
  lcd_wine_own_prefix ||
    echo "wine-env: $1 of the Wine prefix $WINEPREFIX now leads to $2 (${3:+$3; }it led to" \
      "${old:-nothing})" >&2
  lcd_wine_point "$dosdevice" "$link"
}

lcd_wine_own_prefix() { # was the prefix made here (not the user's own)?
  [ -f "$WINEPREFIX/$LCD_WINE_MARKER" ] || [ -f "$WINEPREFIX/.lcd-ready" ]
}

# Waits for the prefix's processes to finish, then stops what is left: under emulation the
# desktop and device processes that the first boot starts can linger for many minutes.
# Stopping the wineserver also writes the registry out to the prefix.
lcd_wine_settle() {
  timeout 60 wineserver -w 2>/dev/null || true
  lcd_wine_stop
  timeout 60 wineserver -w 2>/dev/null || true
}

lcd_wine_port_registered() { # COMn: does the prefix's registry point COMn at its stable link?
  grep -qF "\"$1\"=\"$(lcd_wine_port_link "$1")\"" "$WINEPREFIX/system.reg" 2>/dev/null
}

# Points COM ports of the prefix at their stable links in HKLM\Software\Wine\Ports, where Wine's
# device manager looks when it lays out the devices. Writing it is a Wine run of regedit, tried
# again when Wine's start fails (it does, now and then, under emulation).
lcd_wine_register_ports() { # COMn...
  local port attempt reg="$WINEPREFIX-ports/ports.reg"
  mkdir -p "$WINEPREFIX-ports" || return 1
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for port in "$@"; do
      printf '"%s"="%s"\r\n' "$port" "$(lcd_wine_port_link "$port")"
    done
  } >"$reg" || return 1
  for attempt in 1 2 3; do
    lcd_wine_run regedit /S "Z:${reg//\//\\}" >>"$LCD_WINE_LOG" 2>&1 || true
    for port in "$@"; do
      lcd_wine_port_registered "$port" || continue 2
    done
    return 0
  done
  echo "wine-env: Wine did not take the port mapping ($*); the end of $LCD_WINE_LOG:" >&2
  tail -n 20 "$LCD_WINE_LOG" >&2
  return 1
}

lcd_wine_create_prefix() {
  [ -f "$WINEPREFIX/.lcd-ready" ] && return 0
  if [ -f "$WINEPREFIX/system.reg" ] && [ -d "$WINEPREFIX/dosdevices" ] && ! lcd_wine_own_prefix; then
    echo "wine-env: using your Wine prefix $WINEPREFIX as it is; the scripts keep their" \
      "lock, log and port links beside it ($WINEPREFIX.lock, $LCD_WINE_LOG, $WINEPREFIX-ports/)" >&2
    return 0
  fi
  if [ -e "$WINEPREFIX" ] && [ ! -f "$WINEPREFIX/$LCD_WINE_MARKER" ] &&
     [ -n "$(ls -A "$WINEPREFIX" 2>/dev/null)" ]; then
    echo "wine-env: $WINEPREFIX is not empty and was not made here; it is left as it is." \
      "Point LCD_WINEPREFIX at an absent or empty directory." >&2
    return 1
  fi
  echo "wine-env: creating the Wine prefix in $WINEPREFIX (once)" >&2
  mkdir -p "$WINEPREFIX" && touch "$WINEPREFIX/$LCD_WINE_MARKER" || return 1
  local attempt
  : >"$LCD_WINE_LOG"
  for attempt in 1 2 3; do
    # Under a slow emulator the first start can outlast Wine's own wait for the boot to finish
    # and report failure while the boot goes on. Wine marks a finished set-up with
    # .update-timestamp; until then another wineboot carries on where the last one stopped.
    # The loader's memory errors are let through to the log: one of them means no Wine
    # program can start here at all, and trying again only costs minutes.
    WINEDEBUG=err+virtual wine wineboot -i >>"$LCD_WINE_LOG" 2>&1 </dev/null || true
    if grep -q 'failed to map the shared user data' "$LCD_WINE_LOG"; then
      lcd_wine_settle
      lcd_wine_machine_id >"$LCD_WINE_CANNOT_START"
      echo "wine-env: Wine's 32-bit loader does not start on this machine" \
        "(\"failed to map the shared user data\"$([ "${LCD_WINE_EMULATED:-0}" = 1 ] && echo ' under qemu-i386'))" >&2
      return 1
    fi
    lcd_wine_settle
    [ -f "$WINEPREFIX/.update-timestamp" ] && [ -f "$WINEPREFIX/system.reg" ] && break
    echo "wine-env: the Wine prefix is not finished yet (attempt $attempt); see $LCD_WINE_LOG" >&2
  done
  # The COM ports point at fixed links beside the prefix, which lcd_wine_map_port re-points
  # at a terminal: the prefix is set up once, each run brings its own terminal. Writing the
  # mapping is also the check that the new prefix runs programs.
  if ! lcd_wine_register_ports "${LCD_WINE_PORTS[@]}"; then
    echo "wine-env: the new Wine prefix does not run programs; remove $WINEPREFIX to start over" >&2
    return 1
  fi
  touch "$WINEPREFIX/.lcd-ready"
}

lcd_wine_map_port() { # COMn DEVICE
  local port link
  if ! port=$(lcd_wine_com_port "$1"); then
    echo "wine-env: cannot map '$1': the ports that can be mapped are COM1 to" \
      "COM$LCD_WINE_HIGHEST_PORT" >&2
    return 1
  fi
  if [ ! -d "$WINEPREFIX/dosdevices" ]; then
    echo "wine-env: $WINEPREFIX is not a Wine prefix (no dosdevices)" >&2
    return 1
  fi
  link=$(lcd_wine_port_link "$port")
  mkdir -p "$WINEPREFIX-ports" && lcd_wine_point "$link" "$2" || return 1
  lcd_wine_link_dosdevice "$port" "$2" "through $link" || return 1
  if ! lcd_wine_port_registered "$port"; then
    lcd_wine_own_prefix ||
      echo "wine-env: and HKLM\\Software\\Wine\\Ports\\$port of that prefix is now $link" >&2
    lcd_wine_register_ports "$port"
  fi
}

# The server runs in the foreground mode, a child of this shell in this session. On its own it
# would detach into a session of its own, and a session leader without a terminal takes the
# first terminal it opens -- the COM port's -- as its controlling terminal: when the far end
# closes it, the server is hung up and dumps its state to whatever output it inherited.
# lcdsim --pty's terminal cannot be taken that way (lcdsim holds it in a session of its own),
# but a serial device's can, and in the foreground the server ends with the scripts' runs.
lcd_wine_server_start() {
  if [ -n "$LCD_WINE_SERVER_PID" ] && kill -0 "$LCD_WINE_SERVER_PID" 2>/dev/null; then
    return 0
  fi
  LCD_WINE_SERVER_PID=
  mkdir -p "$(dirname "$LCD_WINE_LOG")" || return 1
  wineserver -f -p"$LCD_WINE_SERVER_LINGER" </dev/null >>"$LCD_WINE_LOG" 2>&1 &
  local pid=$! tries=300
  [ "${LCD_WINE_EMULATED:-0}" = 1 ] && tries=3000
  # Ready once it listens: its working directory is then the server directory with the socket.
  while [ "$tries" -gt 0 ]; do
    if [ -S "/proc/$pid/cwd/socket" ]; then
      LCD_WINE_SERVER_PID=$pid
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
    tries=$((tries - 1))
  done
  local status=0
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    echo "wine-env: the wineserver did not start; see $LCD_WINE_LOG" >&2
    return 1
  fi
  wait "$pid" 2>/dev/null || status=$?
  # 2: the prefix has a server already (a Wine program of the user's, say); programs use it.
  [ "$status" -eq 2 ] && return 0
  echo "wine-env: the wineserver did not start (status $status); see $LCD_WINE_LOG" >&2
  return 1
}

lcd_wine_server_stop() {
  [ -n "$LCD_WINE_SERVER_PID" ] || return 0
  # -k ends every program of the server (a device or service process a program started would
  # otherwise live on without it), then the server writes the registry out and exits.
  if kill -0 "$LCD_WINE_SERVER_PID" 2>/dev/null; then # ours still runs: -k reaches it
    timeout 120 wineserver -k >>"$LCD_WINE_LOG" 2>&1 </dev/null || true
  fi
  local tries=100
  while kill -0 "$LCD_WINE_SERVER_PID" 2>/dev/null && [ "$tries" -gt 0 ]; do
    sleep 0.1
    tries=$((tries - 1))
  done
  kill "$LCD_WINE_SERVER_PID" 2>/dev/null || true
  wait "$LCD_WINE_SERVER_PID" 2>/dev/null || true
  LCD_WINE_SERVER_PID=
}

lcd_wine_run() { # PROGRAM ARGS...; LCD_WINE_TIMEOUT=SECONDS bounds the program's run
  local started=0 status=0
  if [ -z "$LCD_WINE_SERVER_PID" ]; then
    lcd_wine_server_start || return 1
    started=1
  fi
  if [ -n "${LCD_WINE_TIMEOUT:-}" ]; then
    WINEDLLOVERRIDES=$LCD_WINE_RUN_OVERRIDES timeout --foreground "$LCD_WINE_TIMEOUT" wine "$@" || status=$?
  else
    WINEDLLOVERRIDES=$LCD_WINE_RUN_OVERRIDES wine "$@" || status=$?
  fi
  if [ "$started" = 1 ]; then lcd_wine_server_stop; fi
  return "$status"
}

lcd_wine_server_running() { # [PREFIX]: does a wineserver of the prefix run, whoever started it?
  local pid
  for pid in $(pgrep wineserver 2>/dev/null); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=${1:-$WINEPREFIX}" && return 0
  done
  return 1
}

lcd_wine_stop() {
  lcd_wine_server_stop
  wineserver -k 2>/dev/null || true
}
