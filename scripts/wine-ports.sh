# shellcheck shell=bash
# A COM port of a Wine prefix as its dosdevices link, written one way for both scripts that map
# ports: wine-env.sh (lasting links in its own prefix) and virtual-panel.sh (a port of the
# user's prefix, put back at the end). Each keeps its own registry write. Runs no Wine.
#
#   lcd_wine_com_port NAME          prints NAME in capitals; fails unless COM1 to COM256
#   lcd_wine_dosdevice PREFIX COMn  the port's link: PREFIX/dosdevices/comn
#   lcd_wine_link_target LINK       what LINK points at (nothing: no link); fails when LINK is
#                                   more than a link (a file, a folder)
#   lcd_wine_point LINK [TARGET]    points LINK at TARGET, or removes it without TARGET; leaves
#                                   a path that is more than a link alone and fails

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
