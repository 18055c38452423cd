#!/usr/bin/env bash
# Installs what building and testing the driver needs, when it is missing; does nothing when
# everything is there. Debian (bookworm) packages; run as root or with sudo available.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  # qemu-user-static runs Wine's 32-bit loader where the kernel runs no 32-bit programs.
  wine wine32:i386 qemu-user-static
  python3 python3-pefile
  libpng-dev libstb-dev
  # lcdsim's live window, and the X display of the tests' own that it is tested on.
  libsdl2-dev libx11-dev xvfb
  clang libclang-rt-14-dev clang-tidy cppcheck valgrind
  # The release (scripts/release.sh): the ZIP, man pages (made, then read back with man), the
  # .deb and its dependencies.
  zip unzip help2man man-db dpkg-dev file
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
need_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then need_i386=1; fi

if [ "${#missing[@]}" -eq 0 ] && [ "$need_i386" -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}" >&2
if [ "$need_i386" -eq 1 ]; then
  # Wine runs the 32-bit driver with 32-bit Windows libraries, which come as i386 packages.
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
