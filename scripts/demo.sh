#!/usr/bin/env bash
# The demo: installs what is missing, builds everything, starts the simulated panel
# (lcdsim --pty, writing a PNG) and drives it with lcdtest through the real lcd_driver.dll under
# Wine, its COM port mapped to the simulator's terminal. Falls back to the native library only
# when Wine cannot run. Ends by printing the panel picture's path and what ran.
#
#   scripts/demo.sh              the demo
#   LCD_DEMO_NATIVE=1 scripts/demo.sh   skip Wine, drive the panel with the native library
#   LCD_DEMO_OUT=DIR             where the picture and logs go (default build/demo)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/bootstrap.sh
cmake --preset native >/dev/null && cmake --build --preset native
cmake --preset win32 >/dev/null && cmake --build --preset win32

out=${LCD_DEMO_OUT:-build/demo}
mkdir -p "$out"
out=$(cd "$out" && pwd)
png=$out/panel.png
lcdsim=$root/build/native/tools/lcdsim
sim_pid=

stop_sim() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  sim_pid=
}
trap stop_sim EXIT

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
[ -f scripts/wine-env.sh ] || why_native="scripts/wine-env.sh is missing"
if [ "${LCD_DEMO_NATIVE:-0}" != 1 ] && [ -f scripts/wine-env.sh ]; then
  # shellcheck source=wine-env.sh
  source scripts/wine-env.sh
  if lcd_wine_init; then
    # Under user-mode emulation Wine takes a while to start: give it time before giving up.
    start_sim 900
    lcd_wine_map_port COM40 "$pty"
    echo "demo: lcdtest.exe with build/win32/lcd_driver.dll under Wine, COM40 -> $pty"
    # lcd_wine_run, with a time limit so a Wine that hangs cannot hang the demo.
    if timeout 900 bash -c 'source scripts/wine-env.sh && lcd_wine_run "$@"' lcd_wine_run \
         build/win32/lcdtest.exe COM40 --setting 42 | tee "$out/lcdtest.log" &&
       finish_sim; then
      ran="build/win32/lcdtest.exe and build/win32/lcd_driver.dll under Wine (COM40 -> $pty)"
    else
      echo "demo: the Wine run did not complete; using the native library" >&2
      why_native="the Wine run did not complete"
      stop_sim
    fi
  else
    echo "demo: Wine cannot run here; using the native library" >&2
    why_native="Wine could not run here"
  fi
fi
if [ -z "$ran" ]; then
  start_sim 30
  echo "demo: lcdtest with build/native/liblcd_driver.so, port $pty"
  build/native/lcdtest "$pty" --setting 42 | tee "$out/lcdtest.log"
  finish_sim || { echo "demo: the simulated panel did not get its frames" >&2; cat "$out/lcdsim.log" >&2; exit 1; }
  ran="build/native/lcdtest and build/native/liblcd_driver.so ($why_native)"
fi

echo
echo "== the simulated panel (lcdsim)"
cat "$out/lcdsim.log"
echo
echo "ran:   $ran"
echo "panel: $png"
