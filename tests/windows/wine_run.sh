#!/usr/bin/env bash
# Runs one Windows test program under Wine: wine_run.sh WINE PROGRAM [ARGUMENTS...]
# Wine now and then fails to start a program at all: it ends at once with an
# error status and, with WINEDEBUG=-all, says nothing. Such a start (silent,
# failed, within two seconds) is tried again, twice at most, and said so; a
# program that printed anything or ran longer did run, so it is never run twice.
# Wine's status alone is no pass: a program that crashed is at times reported
# with status 0 once the debugger has printed its dump, so a pass also needs
# GoogleTest's closing "[  PASSED  ]" line.
wine=$1
shift
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for attempt in 1 2 3; do
  # Into a file, not a pipe: a wineserver the program started holds a pipe
  # open for seconds after the program ended.
  started=$(date +%s%N)
  "$wine" "$@" >"$out" 2>&1
  status=$?
  cat "$out"
  if [ "$status" -eq 0 ] || [ -s "$out" ] || [ $(($(date +%s%N) - started)) -ge 2000000000 ]; then
    break
  fi
  echo "wine_run.sh: Wine did not start $1 (attempt $attempt, status $status)" >&2
  [ "$attempt" -lt 3 ] && sleep 1
done
if [ "$status" -eq 0 ] && ! grep -q '^\[  PASSED  \] ' "$out"; then
  echo "wine_run.sh: $1 ended with status 0 but without GoogleTest's closing line" >&2
  exit 1
fi
exit "$status"
