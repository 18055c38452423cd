#!/usr/bin/env bash
# Reproducible release: makes the release (scripts/release.sh) in two copies of the tree whose
# paths differ in name and length, one after the other, and compares the packages and the
# binaries in them byte for byte. Prints the hashes of both builds.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/lcd-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Both builds share the commit's time, as two builds of one commit would.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}

# The tree as it is checked out (tracked files and new ones not ignored), no build output.
copy_tree() {
  mkdir -p "$1"
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
    tar --null -T - --ignore-failed-read -cf -) | tar -xf - -C "$1"
}

trees=("$work/a/lcd_driver" "$work/second build/some/other/path")
for tree in "${trees[@]}"; do
  copy_tree "$tree"
  echo "release in $tree"
  if ! "$tree/scripts/release.sh" >"$work/release.out" 2>&1; then
    cat "$work/release.out"
    exit 1
  fi
done

files=(build/release/lcd_driver-*-win32.zip build/release/lcd-driver-tools_*_amd64.deb
       build/release-win32/lcd_driver.dll build/release-win32/lcdtest.exe
       build/release-win64/lcd_driver.dll build/release-win64/lcdtest.exe
       build/release-native/liblcd_driver.so build/release-native/lcdtest
       build/release-native/tools/lcdsim)
status=0
for pattern in "${files[@]}"; do
  first=$(cd "${trees[0]}" && sha256sum $pattern)
  second=$(cd "${trees[1]}" && sha256sum $pattern)
  echo "$first"
  if [ "$first" != "$second" ]; then
    echo "  differs in the second build: $second"
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "both builds are identical" || echo "the builds differ"
exit "$status"
