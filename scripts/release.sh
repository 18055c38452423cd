#!/usr/bin/env bash
# Makes a release in build/release/:
#   lcd_driver-<version>-win32.zip        the Windows driver, the preview driver, lcdsim.exe,
#                                         lcdtest.exe, x64/ (the same four for 64-bit hosts),
#                                         README.txt, LICENSE.txt and SHA256SUMS,
#                                         in a folder of that name
#   lcd-driver-tools_<version>_amd64.deb  lcdsim, lcdtest, liblcd_driver.so, man pages
#   SHA256SUMS                            the hashes of both packages
# then checks them: the ZIP holds exactly its files (in one folder, lcd_driver-<version>-win32/)
# and their hashes, its DLLs pass tests/wine/check_dll.py (32-bit at the top, 64-bit in x64/:
# exports, stack clean-up, imports only KERNEL32 and msvcrt, version), the man pages read with
# man have their sections, and the tools run from an unpacked copy of the .deb and draw the
# test pattern onto the simulated panel.
#
# Reproducible: the same commit gives the same bytes wherever and whenever it is built. File
# times come from SOURCE_DATE_EPOCH, by default the time of the commit. One line per step;
# the details go to build/release.log, shown when a step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/release
log=$root/build/release.log

mkdir -p build
: >"$log"
# shellcheck source=steps.sh
source scripts/steps.sh
STEP_LOG=$log
work=$(mktemp -d "${TMPDIR:-/tmp}/lcd-release.XXXXXX")
cleanup() {
  rm -rf "$work"
}
trap cleanup EXIT

# In the open: a package index that could not be fetched is said on the terminal.
echo "checking the build tools"
LCD_BOOTSTRAP_FOR=scripts/release.sh LCD_BOOTSTRAP_LOG="$root/build/bootstrap.log" \
  scripts/bootstrap.sh release || exit 1

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    fail "not a git checkout: set SOURCE_DATE_EPOCH to the release's time (seconds since 1970)"
fi
export SOURCE_DATE_EPOCH
if git rev-parse --git-dir >/dev/null 2>&1; then
  commit=$(git rev-parse --short HEAD)
  if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "note: the working tree has changes not committed; these packages are not commit $commit's"
  fi
fi

# The 64-bit tree first: the ZIP's x64 folder comes from it.
step "Windows build, 64-bit (release-win64)" \
  bash -c 'cmake --preset release-win64 && cmake --build --preset release-win64'
step "Windows build (release-win32)" \
  bash -c 'cmake --preset release-win32 && cmake --build --preset release-win32'
step "Linux build (release-native)" \
  bash -c 'cmake --preset release-native && cmake --build --preset release-native'

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build/release-native/CPackConfig.cmake)
[ -n "$version" ] || fail "no package version in build/release-native/CPackConfig.cmake"
zip=lcd_driver-$version-win32.zip
deb=lcd-driver-tools_${version}_amd64.deb
mkdir -p "$out"
rm -f "$out/$zip" "$out/$deb" "$out/lcd_driver-$version-win32.json" "$out/SHA256SUMS"

step "packaging $zip" cpack --preset release-win32
# CPack's External generator leaves its metadata beside the package; the release is the ZIP.
rm -f "$out/lcd_driver-$version-win32.json"
step "packaging $deb" cpack --preset release-native

# --- the ZIP: exactly its files, in order, in its folder; their hashes; Windows line ends on
# the text files. The list is the build's own (CPACK_LCD_ZIP_FILES, cmake/release.cmake).
check_zip() {
  local listing expected name folder=${zip%.zip}
  expected=$(sed -n 's/^set(CPACK_LCD_ZIP_FILES "\(.*\)")$/\1/p' build/release-win32/CPackConfig.cmake)
  [ -n "$expected" ] || { echo "no list of the ZIP's files in build/release-win32/CPackConfig.cmake"; return 1; }
  expected=$(for name in ${expected//;/ }; do printf '%s/%s ' "$folder" "$name"; done)
  listing=$(unzip -Z1 "$out/$zip" | tr '\n' ' ')
  [ "$listing" = "$expected" ] || { echo "the ZIP holds: $listing; expected: $expected"; return 1; }
  mkdir "$work/zip"
  unzip -q "$out/$zip" -d "$work/zip"
  (cd "$work/zip/$folder" && sha256sum --strict -c SHA256SUMS)
  for text in README.txt LICENSE.txt; do
    if grep -q -v $'\r$' "$work/zip/$folder/$text"; then echo "$text has lines without CRLF"; return 1; fi
  done
}
step "checking the ZIP's contents" check_zip

# --- the DLLs as shipped, read as files: the top folder's for 32-bit hosts, x64's for 64-bit.
check_dlls() {
  local folder=$work/zip/${zip%.zip} check=tests/wine/check_dll.py
  /usr/bin/python3 "$check" --arch i386 --version "$version" \
    "$folder/lcd_driver.dll" "$folder/lcd_preview.dll" "$folder/lcdsim.exe" "$folder/lcdtest.exe"
  /usr/bin/python3 "$check" --arch amd64 --version "$version" \
    "$folder/x64/lcd_driver.dll" "$folder/x64/lcd_preview.dll" "$folder/x64/lcdsim.exe" \
    "$folder/x64/lcdtest.exe"
}
step "checking the ZIP's DLLs: 32-bit at the top, 64-bit in x64" check_dlls

# --- a man page as man shows it: its sections, the usage not left in DESCRIPTION, and the
# other tool named under SEE ALSO.
check_man_page() { # PAGE TOOL
  local text section other=lcdsim
  [ "$2" = lcdsim ] && other=lcdtest
  [ -s "$1" ] || { echo "no man page for $2"; return 1; }
  text=$(MANWIDTH=80 man -l "$1")
  for section in NAME SYNOPSIS DESCRIPTION EXAMPLES "SEE ALSO"; do
    grep -qx "$section" <<<"$text" || { echo "the man page of $2 has no $section"; return 1; }
  done
  if grep -qi '^ *usage:' <<<"$text"; then echo "the man page of $2 has its usage in the text"; return 1; fi
  sed -n '/^SEE ALSO$/,$p' <<<"$text" | grep -q "$other(1)" ||
    { echo "the man page of $2 does not name $other under SEE ALSO"; return 1; }
}

# --- the .deb: its declared dependencies, and the tools run from an unpacked copy: lcdtest
# loads the packaged driver library and draws the test pattern onto the packaged lcdsim.
check_deb() {
  local root_dir=$work/deb bin
  # step runs this in a subshell of its own, which the script's EXIT trap does not reach: the
  # subshell's own ends the simulated panel on every way out, a failing check's included.
  sim_pid=
  trap 'if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi' EXIT
  dpkg-deb --field "$out/$deb" Depends | grep -q libpng || { echo "no runtime dependencies declared"; return 1; }
  dpkg-deb -x "$out/$deb" "$root_dir"
  bin=$root_dir/usr/bin
  for tool in lcdsim lcdtest; do
    [ "$("$bin/$tool" --version)" = "$tool $version" ] || { echo "$tool --version is not $version"; return 1; }
    check_man_page "$root_dir/usr/share/man/man1/$tool.1.gz" "$tool" || return 1
  done
  [ -s "$root_dir/usr/share/doc/lcd-driver-tools/copyright" ] || { echo "no copyright file"; return 1; }
  [ -s "$root_dir/usr/share/libsigrokdecode/decoders/lcdctl/pd.py" ] || { echo "no sigrok decoder"; return 1; }
  "$bin/lcdsim" --pty --pty-file "$work/pty" --png "$work/panel.png" --frames 4 --idle-exit 20 \
    >"$work/lcdsim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do [ -s "$work/pty" ] && break; sleep 0.1; done
  [ -s "$work/pty" ] || { echo "lcdsim did not start"; cat "$work/lcdsim.log"; return 1; }
  "$bin/lcdtest" "$(cat "$work/pty")" | tee "$work/lcdtest.log"
  grep -q "($root_dir/" "$work/lcdtest.log" || { echo "lcdtest did not load the packaged driver"; return 1; }
  local status=0
  wait "$sim_pid" || status=$?
  sim_pid=
  cat "$work/lcdsim.log"
  [ "$status" -eq 0 ] || { echo "the simulated panel did not get its four frames"; return 1; }
  "$bin/lcdsim" --compare docs/demo-panel.png "$work/panel.png"
}
step "checking the .deb: its tools draw the test pattern from an unpacked copy" check_deb

(cd "$out" && sha256sum "$zip" "$deb" >SHA256SUMS)
echo "release $version in build/release/:"
sed 's/^/  /' "$out/SHA256SUMS"
