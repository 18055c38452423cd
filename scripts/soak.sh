#!/usr/bin/env bash
# A long soak of the driver: CYCLES loads of the library (default 1000), each with the set-up,
# four frames and the unload with its sign-off, natively and as the DLL under Wine. Every byte
# on the line is compared with the encoder's; the native run counts the process's descriptors,
# the Wine run its Windows handles and Wine's descriptors, after the first and the last cycle.
# Prints one line per step and the figures; the details are in build/soak/soak.log, shown on
# failure. Every test run (ctest) does the same with 3 cycles.
#
#   scripts/soak.sh [CYCLES]
set -euo pipefail
cd "$(dirname "$0")/.."

cycles=${1:-1000}
if ! [[ "$cycles" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/soak.sh [CYCLES]   (a positive number of load/unload cycles)" >&2
  exit 2
fi
mkdir -p build/soak
log=build/soak/soak.log
: >"$log"
# shellcheck source=steps.sh
source scripts/steps.sh
STEP_LOG=$log

build() {
  cmake --preset native && cmake --build --preset native --target lcd_driver_api_tests lcd_wine_tests &&
    cmake --preset win32 && cmake --build --preset win32
}
step "build (native and win32)" build

step "native: $cycles cycles" env LCD_SOAK_CYCLES="$cycles" build/native/tests/lcd_driver_api_tests \
  --gtest_filter=DriverApi.SoakOfLoadsAndFrames
grep '^soak:' "$log" | tail -n 1 | sed 's/^soak: /  /'

# Only the host's session and soak: the virtual panel test is no part of the soak.
step "Wine: $cycles cycles (the Wine prefix is made once per machine if missing)" \
  env LCD_SOAK_CYCLES="$cycles" bash tests/wine/run.sh win32 build/native/tests/wine/lcd_wine_tests \
  --gtest_filter=WineDriver.HostLoadsTheDllAndDrivesThePanel
grep -E '^(ok   .*(load/frames/unload cycles|after the first and the last cycle|frame calls to a far)|line: )' \
  "$log" | sed -E 's/^(ok   |line: )/  /'
echo "soak passed"
