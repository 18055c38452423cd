#!/usr/bin/env bash
# The demo: installs what is missing, builds what it needs, starts the simulated panel
# (lcdsim --pty, writing a PNG) and drives it with lcdtest through the real 32-bit
# lcd_driver.dll under 32-bit Wine (through qemu-i386 in a namespace of its own where the kernel
# runs no 32-bit programs), its COM port mapped to the simulator's terminal. Where 32-bit Wine
# cannot run at all, the win64 build under 64-bit Wine; the native library only when Wine
# cannot run. One line says which. Ends with the panel's report, what ran, and the paths of
# the picture and of the line's capture for sigrok (a VCD).
#
#   scripts/demo.sh                     the demo
#   LCD_DEMO_NATIVE=1 scripts/demo.sh   skip Wine, drive the panel with the native library
#   LCD_DEMO_OUT=DIR                    where the picture and logs go (default build/demo)
#   LCD_DEMO_BUILT=1                    the native and win32 trees are built: neither install
#                                       nor build (the test command sets it)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

out=${LCD_DEMO_OUT:-build/demo}
mkdir -p "$out"
out=$(cd "$out" && pwd)
png=$out/panel.png
vcd=$out/panel.vcd
lcdsim=$root/build/native/tools/lcdsim
export LCD_STEP_LOGS=$out/logs LCD_WINE_LOG=$out/logs/wine.log
# shellcheck source=steps.sh
source scripts/steps.sh
mkdir -p "$LCD_STEP_LOGS"

build() { # PRESET TARGET...: configure and build only what the demo runs
  local preset=$1 options=()
  shift
  # The demo installs no test libraries: without them the native tree is configured without
  # its tests and benchmarks (scripts/test.sh installs them and configures them back in).
  if [ "$preset" = native ] && ! pkg-config --exists gtest benchmark 2>/dev/null; then
    options=(-DLCD_BUILD_TESTS=OFF -DLCD_BUILD_BENCH=OFF)
  fi
  cmake --preset "$preset" "${options[@]}" && cmake --build --preset "$preset" --target "$@"
}

if [ "${LCD_DEMO_BUILT:-0}" != 1 ]; then
  LCD_BOOTSTRAP_FOR=scripts/demo.sh LCD_BOOTSTRAP_LOG=$LCD_STEP_LOGS/bootstrap.log \
    scripts/bootstrap.sh demo
  step "demo: building lcdsim, lcdtest, liblcd_driver.so (native)" \
    build native lcdsim lcdtest lcd_driver || exit 1
  step "demo: building lcdtest.exe, lcd_driver.dll (win32)" build win32 lcdtest lcd_driver ||
    exit 1
fi

sim_pid=
stop_sim() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  sim_pid=
}
cleanup() {
  # Each Wine run stops its own server (lcd_wine_run) before the simulator's terminal goes.
  stop_sim
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Starts the simulated panel; its terminal's path lands in $pty. $1: seconds without input
# after which it gives up.
start_sim() {
  rm -f "$out/pty" "$png" "$vcd"
  "$lcdsim" --pty --pty-file "$out/pty" --png "$png" --vcd "$vcd" --frames 4 --idle-exit "$1" \
    >"$out/lcdsim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do [ -s "$out/pty" ] && break; sleep 0.1; done
  [ -s "$out/pty" ] || { echo "demo: lcdsim did not start" >&2; cat "$out/lcdsim.log" >&2; exit 1; }
  pty=$(cat "$out/pty")
}

# Waits for the simulated panel to take its four frames; fails when it saw fewer or errors.
finish_sim() {
  local status=0
  wait "$sim_pid" || status=$?
  sim_pid=
  return "$status"
}

# lcdtest.exe of BUILD (win32 or win64) draws through that build's lcd_driver.dll under its
# Wine, COM40 mapped to the simulated panel's terminal; for win32 on a kernel that runs no
# 32-bit programs, inside a namespace of its own where qemu-i386 runs them (lcd_wine_enter).
# Status 77 where that Wine cannot run here (wine-env says why).
wine_part() { # runs where the build's Wine runs; the panel's terminal is $LCD_DEMO_PTY
  source scripts/wine-env.sh && lcd_wine_init || return 1
  echo "$LCD_WINE_HOW" >"$LCD_DEMO_OUT/how"
  lcd_wine_map_port COM40 "$LCD_DEMO_PTY" || return 1
  # A time limit, so a Wine that hangs cannot hang the demo; the server stops with the run.
  LCD_WINE_TIMEOUT=900 lcd_wine_run "build/$LCD_WINE_ARCH/lcdtest.exe" COM40 --setting 42
}
export -f wine_part
drive_with_wine() { # BUILD
  local status=0
  start_sim 900
  rm -f "$out/how"
  LCD_WINE_ARCH=$1 LCD_DEMO_PTY=$pty LCD_DEMO_OUT=$out \
    bash -c 'source scripts/wine-env.sh && lcd_wine_enter bash -c wine_part' \
    >"$out/lcdtest.log" 2>&1 || status=$?
  if [ "$status" -eq 77 ]; then
    why_native=$(tail -n 1 "$out/lcdtest.log" | sed 's/^wine-env: //')
    stop_sim
    return 77
  fi
  # One line: which build under which Wine; then what the set-up and lcdtest.exe said.
  echo "demo: lcdtest.exe and lcd_driver.dll of the $(cat "$out/how" 2>/dev/null ||
    echo "$1 build under Wine"), COM40 -> $pty"
  cat "$out/lcdtest.log"
  if [ "$status" -eq 0 ] && finish_sim; then
    ran="build/$1/lcdtest.exe and build/$1/lcd_driver.dll, the $(cat "$out/how") (COM40 -> $pty)"
    return 0
  fi
  echo "demo: the Wine run did not complete (Wine's log: $LCD_WINE_LOG)" >&2
  why_native="the Wine run did not complete"
  stop_sim
  return 1
}

ran=
why_native="Wine was not asked for (LCD_DEMO_NATIVE=1)"
if [ "${LCD_DEMO_NATIVE:-0}" != 1 ]; then
  if ! command -v wine >/dev/null; then
    echo "demo: Wine is not installed (the set-up could not install it); using the native library" >&2
    why_native="Wine is not installed"
  else
    # The product, the 32-bit DLL; where 32-bit Wine cannot run at all here, the same sources
    # built for 64-bit Windows under Wine's 64-bit loader.
    status=0
    drive_with_wine win32 || status=$?
    if [ "$status" -eq 77 ]; then
      echo "demo: 32-bit Wine cannot run here ($why_native); the win64 build under 64-bit Wine instead" >&2
      if [ "${LCD_DEMO_BUILT:-0}" = 1 ] ||
         step "demo: building lcdtest.exe, lcd_driver.dll (win64)" build win64 lcdtest lcd_driver; then
        status=0
        drive_with_wine win64 || status=$?
      fi
    fi
    [ -n "$ran" ] || echo "demo: Wine did not draw the panel ($why_native); using the native library" >&2
  fi
fi
if [ -z "$ran" ]; then
  start_sim 30
  echo "demo: build/native/lcdtest with liblcd_driver.so, port $pty"
  build/native/lcdtest "$pty" --setting 42 >"$out/lcdtest.log" 2>&1 || true
  cat "$out/lcdtest.log"
  finish_sim || { echo "demo: the simulated panel did not get its frames" >&2; cat "$out/lcdsim.log" >&2; exit 1; }
  ran="build/native/lcdtest and build/native/liblcd_driver.so ($why_native)"
fi

# The panel's report, without the terminal path it printed at its start.
echo "== the simulated panel (lcdsim)"
grep -v '^/dev/' "$out/lcdsim.log" || true
echo "ran:   $ran"
echo "panel: $png"
echo "line:  $vcd (for sigrok: docs/sigrok.md)"
