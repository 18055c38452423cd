#!/usr/bin/env bash
# Builds everything: the Linux library and the 32-bit Windows driver.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset native >/dev/null && cmake --build --preset native
cmake --preset win32 >/dev/null && cmake --build --preset win32
echo "built: build/win32/lcd_driver.dll and build/native/liblcd_driver.so"
