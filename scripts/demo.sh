#!/usr/bin/env bash
# The demo: installs what is missing, builds what it needs, starts the simulated panel
# (lcdsim --pty, writing a PNG) and drives it with lcdtest through the real lcd_driver.dll under
# Wine, its COM port mapped to the simulator's terminal. Falls back to the native library only
# when Wine cannot run. Ends with the panel's report, what ran, and the picture's path.
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
wine_used=0
stop_sim() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  sim_pid=
}
cleanup() {
  # The Wine server goes before the simulator's terminal does.
  if [ "$wine_used" = 1 ]; then lcd_wine_server_stop; fi
  stop_sim
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Starts the simulated panel; its terminal's path lands in $pty. $1: seconds without input
# after which it gives up.
start_sim() {
  rm -f "$out/pty" "$png"
  "$lcdsim" --pty --pty-file "$out/pty" --png "$png" --frames 4 --idle-exit "$1" \
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

ran=
why_native="Wine was not asked for (LCD_DEMO_NATIVE=1)"
if [ "${LCD_DEMO_NATIVE:-0}" != 1 ]; then
  # shellcheck source=wine-env.sh
  source scripts/wine-env.sh
  if ! command -v wine >/dev/null; then
    echo "demo: Wine is not installed (the set-up could not install it); using the native library" >&2
    why_native="Wine is not installed"
  elif lcd_wine_init; then
    wine_used=1
    # Under user-mode emulation Wine takes a while to start: give it time before giving up.
    start_sim 900
    lcd_wine_map_port COM40 "$pty"
    echo "demo: build/win32/lcdtest.exe and lcd_driver.dll under Wine, COM40 -> $pty"
    # A time limit, so a Wine that hangs cannot hang the demo; the server stops with the run.
    status=0
    LCD_WINE_TIMEOUT=900 lcd_wine_run build/win32/lcdtest.exe COM40 --setting 42 \
      >"$out/lcdtest.log" 2>&1 || status=$?
    cat "$out/lcdtest.log"
    if [ "$status" -eq 0 ] && finish_sim; then
      ran="build/win32/lcdtest.exe and build/win32/lcd_driver.dll under Wine (COM40 -> $pty)"
    else
      echo "demo: the Wine run did not complete (Wine's log: $LCD_WINE_LOG);" \
        "using the native library" >&2
      why_native="the Wine run did not complete"
      stop_sim
    fi
  else
    echo "demo: Wine does not start here (above); using the native library" >&2
    why_native="Wine could not run here"
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
