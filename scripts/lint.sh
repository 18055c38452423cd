#!/usr/bin/env bash
# Static analysis of the project's code: shellcheck (warnings and errors) on every shell
# script; formatting (.clang-format) on every C++ file; clang-tidy (.clang-tidy) on the driver,
# the tools and the benchmarks; cppcheck (.cppcheck-suppressions) on all of it, the tests, the
# fuzz targets and the Windows-only sources too. Any finding fails. Uses a configure-only
# tree, build/lint.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "shellcheck"
mapfile -t scripts < <(git ls-files '*.sh' scripts/wine64/wine)
shellcheck --external-sources --source-path=SCRIPTDIR --severity=warning "${scripts[@]}"

echo "clang-format"
mapfile -t formatted < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run --Werror "${formatted[@]}" 2>build/lint-format.log; then
  grep -E '^[^ ].*: (error|warning):' build/lint-format.log | cut -d: -f1,2 | sort -u >&2 || true
  echo "lint: these lines deviate from .clang-format (clang-format -i FILE mends them)" >&2
  exit 1
fi

cmake --preset native -B build/lint >/dev/null

# The tests are left to cppcheck and the compiler's warnings: parsing GoogleTest for each of
# them takes minutes on two cores. image_codec.cpp compiles the third-party image codec.
mapfile -t sources < <(python3 - <<'PY'
import json, os
root = os.getcwd() + "/"
files = sorted({e["file"] for e in json.load(open("build/lint/compile_commands.json"))})
for f in files:
    rel = f[len(root):] if f.startswith(root) else f
    if rel.startswith(("driver/", "protocol/", "link/", "tools/", "bench/", "decoder/")) \
            and rel != "tools/common/image_codec.cpp":
        print(rel)
PY
)
echo "clang-tidy: ${#sources[@]} files"
# (clang-tidy counts the warnings it hides in system headers on stderr; only findings matter.)
printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -n 1 clang-tidy -p build/lint --quiet \
  2> >(grep -v -E '^[0-9]+ warnings? generated\.$' >&2)

echo "cppcheck"
cppcheck --enable=warning,performance,portability --std=c++20 --language=c++ \
  --library=googletest --library=posix --inline-suppr --error-exitcode=1 -q -j "$(nproc)" \
  -I . -I decoder -I tools/common -I tools/lcdsim -I tools/lcdtest -I tests --suppressions-list=.cppcheck-suppressions \
  driver protocol link decoder tools tests bench fuzz
echo "lint clean"
