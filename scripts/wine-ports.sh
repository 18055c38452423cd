# shellcheck shell=bash
# A COM port of a Wine prefix as its dosdevices link, written the same way by both scripts
# that map ports: scripts/wine-env.sh (lasting links in the project's prefix) and
# scripts/virtual-panel.sh (one port of the user's prefix, put back at the end). Source this
# file; it runs no Wine. The registry value each writes beside the link stays its own:
# wine-env.sh writes its prefix's with regedit in a Wine run of its own and checks the registry
# file; virtual-panel.sh writes the user's with reg in whatever session runs, reading the old
# value first to put it back.
#
#   lcd_wine_com_port NAME          prints NAME in capitals; status 1 unless it is a port Wine
#                                   lays out (COM1 to COM256)
#   lcd_wine_dosdevice PREFIX COMn  the port's link in the prefix (PREFIX/dosdevices/comn)
#   lcd_wine_link_target LINK       what LINK points at (nothing when there is no link);
#                                   status 1 when LINK is more than a link (a file, a folder)
#   lcd_wine_point LINK [TARGET]    points LINK at TARGET, or removes the link without TARGET;
#                                   a path that is more than a link is left alone (status 1)

LCD_WINE_HIGHEST_PORT=256

lcd_wine_com_port() { # NAME
  local port
  port=$(echo "$1" | tr '[:lower:]' '[:upper:]')
  echo "$port"
  [[ $port =~ ^COM([1-9][0-9]{0,2})$ ]] && [ "${BASH_REMATCH[1]}" -le "$LCD_WINE_HIGHEST_PORT" ]
}

lcd_wine_dosdevice() { # PREFIX COMn
  echo "$1/dosdevices/$(echo "$2" | tr '[:upper:]' '[:lower:]')"
}

lcd_wine_link_target() { # LINK
  if [ -L "$1" ]; then
    readlink "$1"
  elif [ -e "$1" ]; then
    return 1
  fi
}

lcd_wine_point() { # LINK [TARGET]
  lcd_wine_link_target "$1" >/dev/null || return 1
  if [ -n "${2:-}" ]; then ln -sfn "$2" "$1"; else rm -f "$1"; fi
}
