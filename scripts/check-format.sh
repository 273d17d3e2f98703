#!/usr/bin/env bash
# Checks that the C++ sources are as clang-format writes them with the
# project's .clang-format; lists each file that is not and fails. With --fix,
# formats the files named (or all that are checked) instead. Files named in
# scripts/format-pending.txt are not checked.
set -uo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang-format >/dev/null; then
  echo "clang-format is missing (package clang-format)" >&2
  exit 1
fi

fix=0
if [ "${1:-}" = "--fix" ]; then
  fix=1
  shift
fi

mapfile -t pending < <(grep -v '^#' scripts/format-pending.txt | sed '/^$/d')
is_pending() {
  local f
  for f in "${pending[@]}"; do [ "$f" = "$1" ] && return 0; done
  return 1
}

if [ $# -gt 0 ]; then
  files=("$@")
else
  # A failed listing (no git, no repository) must not pass for a clean tree.
  if ! listed=$(git ls-files '*.cpp' '*.h'); then
    echo "cannot list the sources: git ls-files failed" >&2
    exit 1
  fi
  files=()
  while IFS= read -r f; do
    [ -n "$f" ] && ! is_pending "$f" && files+=("$f")
  done <<<"$listed"
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "no sources to check" >&2
  exit 1
fi

if [ "$fix" -eq 1 ]; then
  clang-format -i "${files[@]}"
  exit 0
fi

bad=0
for f in "${files[@]}"; do
  if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then
    echo "not formatted: $f (scripts/check-format.sh --fix $f)"
    bad=1
  fi
done
[ "$bad" -eq 0 ] && echo "${#files[@]} sources formatted as .clang-format asks"
exit "$bad"
