#!/usr/bin/env bash
# Runs a Wine test: `run.sh --dll COMMAND...` needs only the win32 build tree; otherwise
# `run.sh COMMAND...` makes Wine ready, starts a wineserver for the prefix, runs COMMAND (the
# Wine test binary), and stops the server again. Without the win32 tree the test is skipped
# (status 77) with the command that builds it.
#
# The DLL under test is the one users download: the win32 build is packaged into the release
# ZIP (its CPack configuration, as scripts/release.sh does), the ZIP is unpacked into a
# temporary directory, and the stand-in host loads lcd_driver.dll from there.
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

if ! lcd_wine_init; then
  # A machine where the loader was found not to start (the line above) skips, as the test
  # command does; anything else that stops Wine fails.
  [ "$(cat "$LCD_WINE_CANNOT_START" 2>/dev/null)" = "$(lcd_wine_machine_id)" ] && exit "$LCD_SKIP"
  exit 1
fi
export LCD_WINE_PORT=${LCD_WINE_PORTS[0]}
export LCD_WINE_PORT_LINK
LCD_WINE_PORT_LINK=$(lcd_wine_port_link "$LCD_WINE_PORT")
# The second port: one that comes and goes while the host draws.
export LCD_WINE_PORT2=${LCD_WINE_PORTS[1]}
export LCD_WINE_PORT2_LINK
LCD_WINE_PORT2_LINK=$(lcd_wine_port_link "$LCD_WINE_PORT2")
# A program with a window needs Wine's desktop (explorer.exe), which console programs go without.
export LCD_WINE_WINDOW_OVERRIDES=$WINEDLLOVERRIDES
export WINEDLLOVERRIDES=$LCD_WINE_RUN_OVERRIDES

package=$(mktemp -d "${TMPDIR:-/tmp}/lcd-wine-zip.XXXXXX")
trap 'lcd_wine_server_stop; rm -rf "$package"' EXIT
if [ ! -f "$LCD_WIN32_DIR/CPackConfig.cmake" ]; then
  echo "run.sh: $LCD_WIN32_DIR has no package configuration; configure the win32 preset again" >&2
  exit 1
fi
if ! SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-0} cpack --config "$LCD_WIN32_DIR/CPackConfig.cmake" \
    -B "$package/cpack" -D CPACK_OUTPUT_FILE_PREFIX="$package" >"$package/cpack.log" 2>&1 ||
  ! unzip -q "$package"/lcd_driver-*-win32.zip -d "$package/unpacked"; then
  cat "$package/cpack.log" >&2
  echo "run.sh: packaging $LCD_WIN32_DIR as the release ZIP failed" >&2
  exit 1
fi
# The ZIP holds one folder, named like it.
zip_file=$(basename "$package"/lcd_driver-*-win32.zip)
export LCD_DRIVER_DLL=$package/unpacked/${zip_file%.zip}/lcd_driver.dll
[ -f "$LCD_DRIVER_DLL" ] || { echo "run.sh: the release ZIP has no ${zip_file%.zip}/lcd_driver.dll" >&2; exit 1; }
echo "the DLL under test: lcd_driver.dll from $zip_file, unpacked"
# The programs the test starts with plain `wine` use this server.
lcd_wine_server_start
"$@"
