#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset, clang) and runs each briefly from its seed
# corpus, so a regression that the fuzzers find quickly shows up in CI. New inputs go to a
# scratch directory; the committed seeds are only read.
#   scripts/fuzz-smoke.sh [seconds per target, default 10]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-10}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
for target in frame_encoder panel_decoder; do
  echo "fuzz_$target: ${seconds}s"
  mkdir -p "$scratch/$target"
  # -timeout: one input taking longer than this is a hang and fails the run.
  # A failing input is kept in build/fuzz/artifacts/ to reproduce it: fuzz_<target> <file>.
  mkdir -p build/fuzz/artifacts
  "build/fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$target-" \
      "$scratch/$target" "fuzz/corpus/$target" 2>"$scratch/$target.log" ||
    { tail -40 "$scratch/$target.log"; exit 1; }
  grep -E '^stat::number_of_executed_units' "$scratch/$target.log" || true
done
