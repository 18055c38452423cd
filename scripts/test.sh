#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the Linux library, the tests, the
# 32-bit Windows driver and the win64 build of the same sources, then runs the tests natively,
# under the sanitizers and valgrind, each Windows build under its Wine, and the demo. One line per step; a failed step shows the end of
# its log (all logs: build/test-logs/). Ends with "N passed, N failed" (steps); exits non-zero
# when one failed.
#
# To add a step: a command (or a function whose commands are joined by &&), then
#   step "what it checks" command args...
set -euo pipefail
cd "$(dirname "$0")/.."

export LCD_STEP_LOGS=build/test-logs
rm -rf "$LCD_STEP_LOGS"
mkdir -p "$LCD_STEP_LOGS"
LCD_BOOTSTRAP_FOR=scripts/test.sh LCD_BOOTSTRAP_LOG=$LCD_STEP_LOGS/bootstrap.log \
  scripts/bootstrap.sh test
# shellcheck source=steps.sh
source scripts/steps.sh
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
export LCD_WINE_LOG=$PWD/$LCD_STEP_LOGS/wine.log
mkdir -p "$LCD_STEP_LOGS"

configure_and_build() { # PRESET
  cmake --preset "$1" && cmake --build --preset "$1"
}

# Only the driver called from two host threads: the rest has nothing to race.
tsan_threads() {
  configure_and_build native-tsan && ctest --preset native-tsan -R Thread
}

valgrind_tests() {
  # Every test executable of the native build that is no Wine test: the ones that load the
  # driver library as a host does, the unit tests and the tools' tests.
  local t status=0
  for t in tests/lcd_unit_tests tests/lcd_driver_api_tests tests/reliability/lcd_reliability_tests \
           tests/reliability/lcd_scalar_encoder_tests tests/tools/lcd_tools_tests \
           tests/tools/lcd_tools_end_to_end_tests; do
    if [ ! -x "build/native/$t" ]; then
      echo "missing test executable build/native/$t (not built, or its target was renamed)"
      status=1
      continue
    fi
    echo "== valgrind $t"
    # The reliability tests count allocations with their own operator new/delete over
    # malloc/free, which valgrind would otherwise report as mismatched pairs.
    valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite -q \
      --show-mismatched-frees=no "build/native/$t" --gtest_brief=1 || status=1
  done
  return "$status"
}

# The demo on the built trees, as a user sees it: the picture it draws is the committed one,
# its output fits a screen and carries nothing of Wine's, and no Wine server outlives it.
demo_check() {
  local out=build/demo screen=24 lines
  LCD_DEMO_BUILT=1 LCD_DEMO_OUT=$out scripts/demo.sh >"$out.txt" 2>&1 || {
    cat "$out.txt"; echo "the demo failed"; return 1; }
  cat "$out.txt"
  lines=$(wc -l <"$out.txt")
  [ "$lines" -le "$screen" ] || { echo "the demo printed $lines lines, more than $screen"; return 1; }
  ! grep -nE '^(0x[0-9a-f]+:|wine(server)?:|err:|fixme:)' "$out.txt" ||
    { echo "the demo's output carries Wine's own lines (above)"; return 1; }
  local prefix
  for prefix in "$LCD_CACHE/wine-prefix" "$LCD_CACHE/wine64-prefix"; do
    ! lcd_wine_server_running "$prefix" || { echo "a Wine server of $prefix outlived the demo"; return 1; }
  done
  build/native/tools/lcdsim --compare docs/demo-panel.png "$out/panel.png"
}

step "build: 32-bit Windows driver and tools (win32)" configure_and_build win32 || true
step "build: the same for 64-bit Windows (win64)" configure_and_build win64 || true
step "build: Linux library, tests and tools (native)" configure_and_build native || true

# Each Windows build's Wine made ready before the tests: its prefix (once per machine) and, for
# win32 on a kernel that runs no 32-bit programs, qemu-i386 (fetched once) in a namespace of
# its own. A step's line says which Wine runs the build; one that cannot run here is skipped,
# with the reason, and so are that build's Wine tests.
wine_how() { # BUILD: which Wine runs it here, in words
  LCD_WINE_ARCH=$1 bash -c 'source scripts/wine-env.sh && { lcd_wine_check; echo "$LCD_WINE_HOW"; }' \
    2>/dev/null | tail -n 1
}
wine_ready() { # BUILD
  # shellcheck disable=SC2016 # expanded by the inner shells
  LCD_WINE_ARCH=$1 bash -c 'source scripts/wine-env.sh &&
    lcd_wine_enter bash -c "source scripts/wine-env.sh && lcd_wine_init && echo \"\$LCD_WINE_HOW\""'
}
wine_skipped=()
for build in win64 win32; do
  if ! command -v wine >/dev/null; then
    step_skip "wine: the $build build under Wine" "Wine is not installed (the set-up could not install it)"
    wine_skipped+=("wine\\.$build\\.host_session")
    continue
  fi
  how=$(wine_how "$build")
  status=0
  step "wine: ${how:-the $build build under Wine}" wine_ready "$build" || status=$?
  [ "$status" -eq 0 ] || wine_skipped+=("wine\\.$build\\.host_session")
done
if [ "${#wine_skipped[@]}" -eq 0 ]; then
  step "tests: native, each Windows build under Wine included" ctest --preset native || true
else
  step "tests: native, and the Windows builds whose Wine is ready" \
    ctest --preset native -E "$(IFS='|'; echo "${wine_skipped[*]}")" || true
fi
step "build: AddressSanitizer and UBSan (native-asan)" configure_and_build native-asan || true
step "tests: under AddressSanitizer and UBSan" \
  ctest --preset native-asan --label-exclude 'wine|no-asan' || true
step "tests: two host threads, ThreadSanitizer (native-tsan)" tsan_threads || true
step "tests: under valgrind" valgrind_tests || true
step "demo: the test pattern onto the simulated panel" demo_check || true
step "static analysis and formatting" scripts/lint.sh || true
step "fuzzing, briefly" scripts/fuzz-smoke.sh 10 || true
step_summary
