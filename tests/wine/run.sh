#!/usr/bin/env bash
# Makes Wine ready, runs the Wine test binary given as the first argument, and stops the
# prefix's wineserver after it.
set -euo pipefail
source "$(dirname "$0")/../../scripts/wine-env.sh"
lcd_wine_init
export LCD_WIN32_DIR=${LCD_WIN32_DIR:-$LCD_ROOT/build/win32}
export LCD_WINE_PORT=${LCD_WINE_PORTS[0]}
export LCD_WINE_PORT_LINK
LCD_WINE_PORT_LINK=$(lcd_wine_port_link "$LCD_WINE_PORT")
export WINEDLLOVERRIDES=$LCD_WINE_RUN_OVERRIDES
status=0
"$@" || status=$?
lcd_wine_stop
exit "$status"
