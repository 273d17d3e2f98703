#!/usr/bin/env bash
# Runs one Windows test program under Wine: wine_run.sh WINE PROGRAM [ARGUMENTS...]
# Wine now and then fails to start a program at all: it ends at once with an
# error status and, with WINEDEBUG=-all, says nothing. Such a start is tried
# again, twice at most, and said so; a program that printed anything did run,
# so its status stands as it is and it is never run twice.
wine=$1
shift
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for attempt in 1 2 3; do
  "$wine" "$@" 2>&1 | tee "$out"
  status=${PIPESTATUS[0]}
  if [ "$status" -eq 0 ] || [ -s "$out" ]; then
    exit "$status"
  fi
  echo "wine_run.sh: Wine did not start $1 (attempt $attempt, status $status)" >&2
  sleep 1
done
exit "$status"
