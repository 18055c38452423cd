# shellcheck shell=bash
# Quiet steps for the scripts: source this file, then
#
#   step NAME COMMAND...   runs COMMAND with everything it prints going to a log of its own
#                          (in $LCD_STEP_LOGS, default build/logs); prints one line for the
#                          step, and when it fails, the end of its log; counts the outcome.
#                          Status 77 means skipped: the last line of the log says why
#   step_skip NAME WHY     prints the step as skipped, with the reason, and counts it
#   step_summary           prints "N passed, N failed" (", N skipped" when one was); fails
#                          when a step failed
#
# COMMAND may be a shell function. A step's status is its command's; the caller decides
# whether to go on after a failure (STEP_FAILED holds the count so far).

LCD_STEP_LOGS=${LCD_STEP_LOGS:-build/logs}
# Lines of a failed step's log shown on the terminal; the rest stays in the log.
LCD_STEP_TAIL=${LCD_STEP_TAIL:-60}
# The status by which a step's command says it was skipped (as ctest's SKIP_RETURN_CODE).
STEP_SKIP=77
STEP_PASSED=0
STEP_FAILED=0
STEP_SKIPPED=0
STEP_COUNT=0

step() {
  local name=$1 log slug started status=0
  shift
  STEP_COUNT=$((STEP_COUNT + 1))
  slug=$(printf '%02d-%s' "$STEP_COUNT" "$(echo "$name" | tr -cs 'A-Za-z0-9' '-' | sed 's/-$//')")
  mkdir -p "$LCD_STEP_LOGS"
  log="$LCD_STEP_LOGS/$slug.log"
  printf '%-58s ' "$name"
  started=$SECONDS
  # Not in a subshell, so a function's variables stay set for later steps; errexit is off
  # inside (the command's own status decides).
  "$@" >"$log" 2>&1 </dev/null || status=$?
  if [ "$status" -eq 0 ]; then
    STEP_PASSED=$((STEP_PASSED + 1))
    printf 'ok    %4d s\n' "$((SECONDS - started))"
  elif [ "$status" -eq "$STEP_SKIP" ]; then
    STEP_SKIPPED=$((STEP_SKIPPED + 1))
    printf 'skipped: %s\n' "$(tail -n 1 "$log" | sed 's/^[a-z-]*: //')"
  else
    STEP_FAILED=$((STEP_FAILED + 1))
    printf 'FAILED %3d s (status %d; log: %s)\n' "$((SECONDS - started))" "$status" "$log"
    tail -n "$LCD_STEP_TAIL" "$log" | sed 's/^/    | /'
  fi
  return "$status"
}

step_skip() {
  STEP_SKIPPED=$((STEP_SKIPPED + 1))
  printf '%-58s skipped: %s\n' "$1" "$2"
}

step_summary() {
  echo "$STEP_PASSED passed, $STEP_FAILED failed$([ "$STEP_SKIPPED" -eq 0 ] || echo ", $STEP_SKIPPED skipped")"
  [ "$STEP_FAILED" -eq 0 ]
}
