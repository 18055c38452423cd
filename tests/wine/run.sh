#!/usr/bin/env bash
# Runs a Wine test: `run.sh --dll COMMAND...` needs only the win32 build tree; otherwise
# `run.sh COMMAND...` makes Wine ready, starts a wineserver for the prefix, runs COMMAND (the
# Wine test binary), and stops the server again. Without the win32 tree the test is skipped
# (status 77) with the command that builds it.
set -euo pipefail
source "$(dirname "$0")/../../scripts/wine-env.sh"
export LCD_WIN32_DIR=${LCD_WIN32_DIR:-$LCD_ROOT/build/win32}
LCD_SKIP=77

if [ ! -f "$LCD_WIN32_DIR/lcd_driver.dll" ]; then
  echo "skipped: no $LCD_WIN32_DIR/lcd_driver.dll; build it with" \
    "cmake --preset win32 && cmake --build --preset win32"
  exit "$LCD_SKIP"
fi
if [ "$1" = --dll ]; then
  shift
  exec "$@"
fi

lcd_wine_init
export LCD_WINE_PORT=${LCD_WINE_PORTS[0]}
export LCD_WINE_PORT_LINK
LCD_WINE_PORT_LINK=$(lcd_wine_port_link "$LCD_WINE_PORT")
export WINEDLLOVERRIDES=$LCD_WINE_RUN_OVERRIDES
trap lcd_wine_server_stop EXIT
lcd_wine_server_start
"$@"
