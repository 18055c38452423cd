#!/usr/bin/env bash
# Runs the benchmarks once (the `native` preset's lcd_bench), repetitions interleaved in random
# order so that a busy spell on the machine does not fall on one benchmark alone, and prints the
# ratios of the medians: each encoding against the image copy, the frame call against its
# floor (copy plus one write of the same size to the same kind of terminal).
#   scripts/bench.sh [build dir, default build/native] [repetitions, default 10]
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build/native}"
repetitions="${2:-10}"
cmake --build "$build" --target lcd_bench >/dev/null
out="$(mktemp)"
trap 'rm -f "$out" "$out.log"' EXIT
"$build/bench/lcd_bench" --benchmark_repetitions="$repetitions" 2>"$out.log" \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
  --benchmark_out="$out" --benchmark_out_format=json \
  >/dev/null || { cat "$out.log"; exit 1; }
python3 - "$out" <<'PY'
import json, sys
run = json.load(open(sys.argv[1]))
median = {b["run_name"]: b for b in run["benchmarks"] if b.get("aggregate_name") == "median"}
def ns(name, clock="cpu_time"):
    return median[name][clock]
ctx = run["context"]
print(f"{ctx.get('num_cpus')} CPUs at {ctx.get('mhz_per_cpu')} MHz, {ctx.get('library_build_type')} "
      f"benchmark library; medians of {median['ImageCopy']['repetitions']} repetitions")
copy = ns("ImageCopy")
print(f"{'ImageCopy (memcpy of 76,800 bytes)':44} {copy / 1000:8.2f} us")
for name in ["Encode/RandomBits", "Encode/AllZero", "Encode/EveryByteEscaped",
             "Encode/ArbitraryBytes"]:
    print(f"{name:44} {ns(name) / 1000:8.2f} us  {ns(name) / copy:5.2f} x copy")
call = ns("FrameCall/real_time", "real_time")
floor = ns("FrameFloor/real_time", "real_time")
print(f"{'FrameFloor (copy + one write to a pty)':44} {floor / 1000:8.2f} us")
print(f"{'FrameCall (LCD_SendToGfxMemory, dlopen)':44} {call / 1000:8.2f} us  {call / floor:5.2f} x floor")
skipped = ns("SkippedFrameCall")
check = ns("QuadrantCheck")
print(f"{'QuadrantCheck (select_quadrant)':44} {check:8.1f} ns")
print(f"{'SkippedFrameCall (lock, markers, last error)':44} {skipped:8.1f} ns  "
      f"{(skipped - check) / call * 100:5.3f} % of FrameCall beyond the check")
print(f"{'line time of a 10,561-byte frame':44} {10561 * 10 / 3e6 * 1e6:8.0f} us")
PY
