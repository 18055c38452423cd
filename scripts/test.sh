#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the Linux library, the tests and the
# 32-bit Windows driver, then runs the tests natively, under the sanitizers, and the Windows
# driver under Wine. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh

step() { printf '\n== %s\n' "$*"; }

step "32-bit Windows driver"
cmake --preset win32 >/dev/null
cmake --build --preset win32

step "Wine for the 32-bit driver (the prefix is made once per machine: minutes under emulation)"
bash -c 'source scripts/wine-env.sh && lcd_wine_init'

step "native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

step "native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan
ctest --preset native-asan --label-exclude wine

step "demo: the test pattern through the driver onto the simulated panel"
LCD_DEMO_OUT=build/demo scripts/demo.sh
build/native/tools/lcdsim --compare docs/demo-panel.png build/demo/panel.png

step "native tests under valgrind"
# Every test executable of the native build that is no Wine test: the ones that load the
# driver library as a host does, the unit tests and the tools' tests.
for t in tests/lcd_unit_tests tests/lcd_driver_api_tests tests/reliability/lcd_reliability_tests \
         tests/reliability/lcd_scalar_encoder_tests tests/tools/lcd_tools_tests \
         tests/tools/lcd_tools_end_to_end_tests; do
  [ -x "build/native/$t" ] || continue
  echo "valgrind $t"
  # The reliability tests count allocations with their own operator new/delete over malloc/free,
  # which valgrind would otherwise report as mismatched pairs.
  valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite -q \
    --show-mismatched-frees=no \
    "build/native/$t" --gtest_brief=1
done

step "static analysis"
scripts/lint.sh

step "fuzzing, briefly"
scripts/fuzz-smoke.sh 10

step "all tests passed"
