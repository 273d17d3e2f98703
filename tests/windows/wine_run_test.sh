#!/usr/bin/env bash
# The Wine launcher's verdicts, with bash standing in for Wine and small
# scripts for the test programs: a crash Wine reports as status 0 fails, a
# program that ran and failed runs once, a silent failed start is retried.
launcher=$(dirname "$0")/wine_run.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# expect NAME STATUS RUNS BODY: the program BODY, counting its starts in
# $work/runs, must leave the launcher with STATUS after RUNS starts.
expect() {
  local name=$1 want=$2 runs=$3
  printf '%s\n' "echo x >>'$work/runs'" "$4" >"$work/program"
  rm -f "$work/runs"
  "$launcher" bash "$work/program" >"$work/out" 2>&1
  local got=$? started
  started=$(wc -l <"$work/runs")
  if [ "$got" -ne "$want" ] || [ "$started" -ne "$runs" ]; then
    echo "FAIL: $name: status $got after $started starts, expected $want after $runs"
    sed 's/^/  | /' "$work/out"
    failures=$((failures + 1))
  fi
}

expect "a pass" 0 1 'echo "[  PASSED  ] 3 tests."; exit 0'
expect "a crash reported as success" 1 1 'echo "Unhandled exception: page fault"; exit 0'
expect "nothing printed, status 0" 1 1 'exit 0'
expect "a failure" 1 1 'echo "[  FAILED  ] A.B"; exit 1'
expect "a silent crash keeps its status" 3 3 'exit 3'
expect "a silent failure after a run is not retried" 3 1 'sleep 2.1; exit 3'
expect "a failed start, then a pass" 0 2 \
  "[ \$(wc -l <'$work/runs') -ge 2 ] || exit 1; echo '[  PASSED  ] 1 test.'"
[ "$failures" -eq 0 ]
