#!/usr/bin/env bash
# The set-up on package sources that are not perfect, with stand-ins for apt-get, dpkg and
# dpkg-query first on PATH (nothing is installed and apt's state is not touched):
#   1. one index fails to download and the first install fails: the set-up says so, tries once
#      more with only the complete suites, prints at most three lines and succeeds;
#   2. the install fails both times: the set-up stops with apt's reason;
#   3. the demo installs none of the test-only tools.
set -euo pipefail
bootstrap=$(cd "$(dirname "$0")/../.." && pwd)/scripts/bootstrap.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/lcd-bootstrap-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$work/bin"
cat >"$work/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STUB_CALLS"
case "$1" in
  update)
    echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
  indextargets)
    printf '%s\n' 'http://deb.example/debian/ bookworm main amd64' 'http://deb.example/debian/ bookworm main i386' \
      'http://deb.example/debian-security/ bookworm-security main amd64' ;;
  install)
    n=$(grep -c '^apt-get install' "$STUB_CALLS")
    if [ "$n" -ge "$STUB_INSTALL_SUCCEEDS_AT" ]; then
      # The retry must see only the complete suite, through a list of its own.
      list=$(echo "$*" | sed -n 's/.*Dir::Etc::SourceList=\([^ ]*\).*/\1/p')
      [ -n "$list" ] && cp "$list" "$STUB_CALLS.list"
      exit 0
    fi
    echo "Some packages could not be installed."
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100 ;;
esac
EOF
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query" # nothing is installed
cat >"$work/bin/dpkg" <<'EOF'
#!/bin/sh
case "$1" in --print-architecture) echo amd64 ;; --print-foreign-architectures) echo i386 ;; esac
EOF
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

run() { # SUCCEEDS_AT: the install call that succeeds
  : >"$work/calls"
  PATH=$work/bin:$PATH STUB_CALLS=$work/calls STUB_INSTALL_SUCCEEDS_AT=$1 \
    LCD_BOOTSTRAP_LOG=$work/log LCD_BOOTSTRAP_FOR=scripts/test.sh "$bootstrap" test \
    >"$work/out" 2>&1
}

run 2 || fail "the set-up failed although the second install succeeded: $(cat "$work/out")"
[ "$(wc -l <"$work/out")" -le 3 ] || fail "more than three lines: $(cat "$work/out")"
grep -q 'bookworm-security (i386) could not be fetched' "$work/out" || fail "the missing index unnamed"
grep -q 'trying again' "$work/out" || fail "the retry unsaid: $(cat "$work/out")"
[ "$(grep -c '^apt-get install' "$work/calls")" -eq 2 ] || fail "not exactly two installs"
grep -q -- '--no-remove' "$work/calls" || fail "an install may remove packages"
grep -q 'bookworm-security' "$work/calls.list" && fail "the retry kept the incomplete suite"
grep -qx 'deb \[arch=amd64,i386\] http://deb.example/debian/ bookworm main' "$work/calls.list" ||
  fail "the retry's sources: $(cat "$work/calls.list")"

# Both installs fail, and so does the one without Wine: apt's reason and the way back.
if run 99; then fail "the set-up succeeded although every install failed"; fi
grep -q 'held broken packages' "$work/out" || fail "apt's reason not shown: $(cat "$work/out")"
grep -q 'run scripts/test.sh again' "$work/out" || fail "no command to run again"

demo=$("$bootstrap" --list demo)
for tool in clang clang-tidy cppcheck valgrind shellcheck sigrok-cli help2man qemu-user qemu-user-static libgtest-dev \
  libbenchmark-dev xvfb zip; do
  ! echo "$demo" | grep -qx "$tool" || fail "the demo installs $tool"
done
echo "bootstrap: 3 cases passed"
