#!/usr/bin/env bash
# Installs what a command of the project needs, when it is missing; does nothing when
# everything is there. Debian 12 (bookworm) packages; run as root or with sudo available.
#
#   scripts/bootstrap.sh demo      what scripts/demo.sh runs: compiler, CMake, the MinGW cross
#                                  compilers (i686, x86-64), Wine (32- and 64-bit), the image
#                                  and window libraries
#   scripts/bootstrap.sh release   the demo's, and the packaging tools of scripts/release.sh
#   scripts/bootstrap.sh test      everything scripts/test.sh runs (the default)
#   scripts/bootstrap.sh --list P  prints the packages of P, one a line, and installs nothing
#
# Package sources are often not perfect: a mirror in the middle of a sync, a retired
# third-party repository, an expired key. An index that cannot be fetched is said in one line
# and the set-up goes on. When the install then fails and an index was missing (typically an
# i386 index, so Wine's 32-bit libraries cannot match the versions of the 64-bit ones), it is
# tried once more with only the suites whose indexes arrived for every architecture it needs,
# through a temporary sources list given to apt by option: the machine's own sources and
# apt's lists stay as they are. Nothing is ever downgraded or removed. When Wine alone cannot
# be installed, the rest is, and the caller's Wine steps say they are skipped. apt's own
# output goes to the log (LCD_BOOTSTRAP_LOG, default build/bootstrap.log).
set -euo pipefail

base_packages=(cmake make g++ pkg-config g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 libpng-dev libstb-dev libsdl2-dev)
# 32-bit Wine for the driver, and Wine's 64-bit loader for the win64 build. Where the kernel
# runs no 32-bit programs, scripts/wine-env.sh fetches qemu-i386 into the project's cache and
# runs 32-bit Wine in a namespace of its own: no emulator is installed.
wine_packages=(wine wine32:i386 wine64)
# the ZIP (its DLLs read with pefile), the man pages (made, then read back with man), the .deb
# and its dependencies
release_packages=(zip unzip help2man man-db dpkg-dev file python3 python3-pefile)
test_packages=(libgtest-dev libgmock-dev libbenchmark-dev
  # the X display of the tests' own that the live window is tested on
  libx11-dev xvfb
  clang libclang-rt-14-dev clang-tidy cppcheck valgrind shellcheck sigrok-cli)

list_only=0
if [ "${1:-}" = --list ]; then
  list_only=1
  shift
fi
profile=${1:-test}
case "$profile" in
  demo) packages=("${base_packages[@]}" "${wine_packages[@]}") ;;
  release) packages=("${base_packages[@]}" "${wine_packages[@]}" "${release_packages[@]}") ;;
  test) packages=("${base_packages[@]}" "${wine_packages[@]}" "${release_packages[@]}"
    "${test_packages[@]}") ;;
  *)
    echo "usage: scripts/bootstrap.sh [--list] [demo|release|test]" >&2
    exit 2
    ;;
esac
if [ "$list_only" = 1 ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

# What to run again after fixing the machine: the command that asked for this set-up.
again=${LCD_BOOTSTRAP_FOR:-scripts/bootstrap.sh $profile}
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
is_wine_package() { case "$1" in wine | wine32:i386 | wine64) return 0 ;; esac; return 1; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
need_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then need_i386=1; fi
if [ "${#missing[@]}" -eq 0 ] && [ "$need_i386" -eq 0 ]; then
  exit 0
fi

log=${LCD_BOOTSTRAP_LOG:-build/bootstrap.log}
mkdir -p "$(dirname "$log")"
: >"$log"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/lcd-bootstrap.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

echo "bootstrap: installing ${missing[*]} (apt's output: $log)"
if [ "$need_i386" -eq 1 ]; then
  # Wine runs the 32-bit driver with 32-bit Windows libraries, which come as i386 packages.
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive

# apt-get update fails as a whole when any one index cannot be fetched, though it keeps the
# rest. Each failed index is named by its suite and architecture ("all" for a whole suite).
update_out=$tmp/update.txt
"${sudo_cmd[@]}" apt-get update >"$update_out" 2>&1 || true
cat "$update_out" >>"$log"
failed_indexes=$(sed -nE \
  -e 's#^[EW]: Failed to fetch [^ ]*/dists/([^ ]+)/[^/ ]+/binary-([a-z0-9]+)/.*#\1 \2#p' \
  -e 's#^[EW]: Failed to fetch [^ ]*/dists/([^ ]+)/(In)?Release( .*)?$#\1 all#p' \
  -e 's#^[EW]: GPG error: [^ ]+ ([^ ]+) (In)?Release:.*#\1 all#p' \
  -e "s#^[EW]: The repository '[^ ]+ ([^ ]+) (In)?Release' .*#\\1 all#p" \
  "$update_out" | sort -u)
if [ -n "$failed_indexes" ]; then
  described=$(echo "$failed_indexes" | sed -E 's/^([^ ]+) all$/\1 (every architecture)/;
    s/^([^ ]+) ([a-z0-9]+)$/\1 (\2)/' | paste -sd, - | sed 's/,/, /g')
  reason=$(grep -m1 -oE '(Mirror sync in progress\?|NO_PUBKEY [0-9A-F]+|EXPKEYSIG [0-9A-F]+|404 +Not Found|is not signed)' \
    "$update_out" || true)
  echo "bootstrap: the package index of $described could not be fetched${reason:+ ($reason)}; going on without it"
fi

# The suites whose Packages indexes arrived for every architecture in $1 (space separated),
# as sources-list lines; a suite named in the failures above is left out whole.
complete_suites() {
  local arches=$1
  apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT) $(ARCHITECTURE)' \
    'Identifier: Packages' 2>/dev/null | sort -u |
    awk -v arches="$arches" -v failed="$(echo "$failed_indexes" | awk '{print $1}' | paste -sd' ' -)" '
      BEGIN { n = split(arches, want, " "); split(failed, f, " "); for (i in f) bad[f[i]] = 1 }
      !($2 in bad) { have[$1 " " $2 " " $3 " " $4] = 1; key[$1 " " $2 " " $3] = 1 }
      END {
        for (k in key) {
          ok = 1
          for (i = 1; i <= n; i++) if (!((k " " want[i]) in have)) ok = 0
          if (ok) { split(k, p, " "); line[p[1] " " p[2]] = line[p[1] " " p[2]] " " p[3] }
        }
        for (r in line) { split(r, p, " "); print p[1], p[2], line[r] }
      }' | sort
}

# The architectures the packages given need: the machine's, and i386 for Wine's libraries.
arches_for() {
  local arches
  arches=$(dpkg --print-architecture)
  if printf '%s\n' "$@" | grep -q ':i386$'; then arches="$arches i386"; fi
  echo "$arches"
}

# apt-get install of the packages given; with restricted=1 only the complete suites.
# apt's reason lands in $tmp/reason when it fails.
restricted=0
apt_install() {
  local opts=(-y -qq --no-remove) arches status=0
  if [ "$restricted" = 1 ]; then
    arches=$(arches_for "$@")
    mkdir -p "$tmp/parts"
    complete_suites "$arches" | while read -r uri suite components; do
      echo "deb [arch=${arches// /,}] $uri $suite $components"
    done >"$tmp/sources.list"
    opts+=(-o "Dir::Etc::SourceList=$tmp/sources.list" -o "Dir::Etc::SourceParts=$tmp/parts")
  fi
  "${sudo_cmd[@]}" apt-get install "${opts[@]}" "$@" >"$tmp/install.txt" 2>&1 || status=$?
  cat "$tmp/install.txt" >>"$log"
  if [ "$status" -ne 0 ]; then
    grep -E '^E: ' "$tmp/install.txt" | tail -n 2 >"$tmp/reason" || true
    [ -s "$tmp/reason" ] || tail -n 2 "$tmp/install.txt" >"$tmp/reason"
  fi
  return "$status"
}

# Tries the packages given; once more with the complete suites when an index was missing.
install_packages() {
  restricted=0
  apt_install "$@" && return 0
  [ -n "$failed_indexes" ] || return 1
  local suites
  suites=$(complete_suites "$(arches_for "$@")" | awk '{print $2}' | paste -sd, - | sed 's/,/, /g')
  [ -n "$suites" ] || return 1
  echo "bootstrap: apt could not install them from every source; trying again with only the suites whose indexes all arrived ($suites)"
  restricted=1
  apt_install "$@"
}

give_up() {
  echo "bootstrap: the packages could not be installed; apt says:" >&2
  sed 's/^/    /' "$tmp/reason" >&2
  echo "bootstrap: apt's whole answer is in $log; after fixing the package sources, run $again again" >&2
  exit 1
}

if ! install_packages "${missing[@]}"; then
  # Wine alone may be what cannot be had; everything else can still build and test.
  others=()
  for p in "${missing[@]}"; do is_wine_package "$p" || others+=("$p"); done
  [ "${#others[@]}" -lt "${#missing[@]}" ] || give_up
  cp "$tmp/reason" "$tmp/wine-reason"
  if [ "${#others[@]}" -gt 0 ]; then install_packages "${others[@]}" || give_up; fi
  echo "bootstrap: Wine could not be installed ($(head -n1 "$tmp/wine-reason" | sed 's/^E: //'));" \
    "going on without it: what needs Wine is skipped"
  exit 0
fi

