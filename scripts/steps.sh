# shellcheck shell=bash
# Quiet steps for the scripts: source this file, then
#
#   step NAME COMMAND...   runs COMMAND with everything it prints going to a log and counts the
#                          outcome; its status is COMMAND's. By default (test.sh, demo.sh) each
#                          step has its own log in $LCD_STEP_LOGS (build/logs) and one line with
#                          its outcome and time, then the end of its log when it failed; the
#                          caller decides whether to go on. Status 77 means skipped: the log's
#                          last line says why. COMMAND may be a function, run in this shell (its
#                          variables stay set; errexit is off inside).
#                          With STEP_LOG=FILE set after sourcing (release.sh, soak.sh): the name
#                          first, "=== NAME: COMMAND" and the output in FILE, COMMAND in a
#                          subshell with errexit on (its traps its own), and a failed step ends
#                          the script: fail "failed: NAME". Call step plainly there: in a
#                          condition (`step ... || x`) bash switches errexit off.
#   step_skip NAME WHY     prints the step as skipped, with the reason, and counts it
#   step_summary           prints "N passed, N failed" (", N skipped" when one was); fails
#                          when a step failed
#   fail MESSAGE...        "FAIL_NAME: MESSAGE" on stderr (the script's name), then the last
#                          FAIL_TAIL (40) lines of FAIL_LOG (default STEP_LOG) if it has any,
#                          under FAIL_HEADING ("--- last lines of LOG:"); exits FAIL_STATUS (1)

LCD_STEP_LOGS=${LCD_STEP_LOGS:-build/logs}
# Lines of a failed step's log shown on the terminal; the rest stays in the log.
LCD_STEP_TAIL=${LCD_STEP_TAIL:-60}
# The status by which a step's command says it was skipped (as ctest's SKIP_RETURN_CODE).
STEP_SKIP=77
STEP_PASSED=0
STEP_FAILED=0
STEP_SKIPPED=0
STEP_COUNT=0
# Set by the script, never taken from the environment.
STEP_LOG=
FAIL_NAME=$(basename "$0" .sh)
FAIL_LOG=
FAIL_HEADING=
FAIL_TAIL=40
FAIL_STATUS=1

fail() {
  local log=${FAIL_LOG:-$STEP_LOG}
  echo "$FAIL_NAME: $*" >&2
  if [ -n "$log" ] && [ -s "$log" ]; then
    echo "${FAIL_HEADING:---- last lines of $log:}" >&2
    tail -n "$FAIL_TAIL" "$log" >&2
  fi
  exit "$FAIL_STATUS"
}

step() {
  local name=$1 log slug started status=0
  shift
  STEP_COUNT=$((STEP_COUNT + 1))
  if [ -n "$STEP_LOG" ]; then
    echo "$name"
    echo "=== $name: $*" >>"$STEP_LOG"
    local errexit=0
    case $- in *e*) errexit=1 ;; esac
    set +e
    (
      set -e
      "$@"
    ) >>"$STEP_LOG" 2>&1 </dev/null
    status=$?
    [ "$errexit" -eq 0 ] || set -e
    [ "$status" -eq 0 ] || fail "failed: $name"
    STEP_PASSED=$((STEP_PASSED + 1))
    return 0
  fi
  slug=$(printf '%02d-%s' "$STEP_COUNT" "$(echo "$name" | tr -cs 'A-Za-z0-9' '-' | sed 's/-$//')")
  mkdir -p "$LCD_STEP_LOGS"
  log="$LCD_STEP_LOGS/$slug.log"
  printf '%-58s ' "$name"
  started=$SECONDS
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
