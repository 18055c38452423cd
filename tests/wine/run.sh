#!/usr/bin/env bash
# Runs a Wine test against one Windows build:
#
#   run.sh win32|win64 COMMAND...         makes that build's Wine ready (scripts/wine-env.sh),
#                                         starts a wineserver for its prefix, runs COMMAND (the
#                                         Wine test binary) and stops the server again
#
# win64 runs under Wine's 64-bit loader in a 64-bit prefix of its own. win32 runs under 32-bit
# Wine: natively where the kernel runs 32-bit programs; elsewhere the whole run (the server,
# the test binary, the Wine programs it starts, its Xvfb) goes into a user namespace of its own
# where qemu-i386 runs 32-bit programs (lcd_wine_enter). The first line says which. Without the
# build's tree, or where its Wine cannot run here, the test is skipped (status 77), saying why.
#
# The win32 DLL under test is the one users download: the tree is packaged into the release ZIP
# (its CPack configuration, as scripts/release.sh does), the ZIP is unpacked into a temporary
# directory, and the stand-in host loads lcd_driver.dll from there. The win64 build's tree is
# tested as built (its release files come from the release-win64 preset).
set -euo pipefail
case "${1:-}" in
  win32 | win64) export LCD_WINE_ARCH=$1 ;;
  *) echo "usage: run.sh win32|win64 COMMAND..." >&2; exit 2 ;;
esac
shift
source "$(dirname "$0")/../../scripts/wine-env.sh"
LCD_SKIP=77
# The test binary reads the tree under test from LCD_WIN32_DIR, whichever build it is, and the
# other build's from LCD_OTHER_WIN_DIR (a DLL of the wrong width for this one).
if [ "$LCD_WINE_ARCH" = win64 ]; then
  export LCD_OTHER_WIN_DIR=${LCD_OTHER_WIN_DIR:-${LCD_WIN32_DIR:-$LCD_ROOT/build/win32}}
  export LCD_WIN32_DIR=${LCD_WIN64_DIR:-$LCD_ROOT/build/win64}
else
  export LCD_OTHER_WIN_DIR=${LCD_OTHER_WIN_DIR:-${LCD_WIN64_DIR:-$LCD_ROOT/build/win64}}
  export LCD_WIN32_DIR=${LCD_WIN32_DIR:-$LCD_ROOT/build/win32}
fi

if [ ! -f "$LCD_WIN32_DIR/lcd_driver.dll" ]; then
  echo "skipped: no $LCD_WIN32_DIR/lcd_driver.dll; build it with" \
    "cmake --preset $LCD_WINE_ARCH && cmake --build --preset $LCD_WINE_ARCH"
  exit "$LCD_SKIP"
fi

# Once more where this build's Wine runs: here, or in the emulator's namespace.
if [ "${LCD_WINE_ENTERED:-0}" != 1 ]; then
  status=0
  LCD_WINE_ENTERED=1 lcd_wine_enter bash "$0" "$LCD_WINE_ARCH" "$@" || status=$?
  [ "$status" -ne "$LCD_SKIP" ] || echo "skipped: the $LCD_WINE_ARCH build's Wine cannot run here (the line above says why)"
  exit "$status"
fi

if ! lcd_wine_init; then
  # A machine where the loader was found not to start (the line above) skips, as the test
  # command does; anything else that stops Wine fails.
  [ "$(cat "$LCD_WINE_CANNOT_START" 2>/dev/null)" = "$(lcd_wine_machine_id)" ] && exit "$LCD_SKIP"
  exit 1
fi
echo "$LCD_WINE_HOW"
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
unset LCD_DRIVER_DLL
if [ "$LCD_WINE_ARCH" = win32 ]; then
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
else
  echo "the DLL under test: $LCD_WIN32_DIR/lcd_driver.dll"
fi
# The programs the test starts with plain `wine` use this server.
lcd_wine_server_start
"$@"
