#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
tw_install_missing "${TW_PACKAGES[@]}"

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTW_TESTS=OFF -DTW_BENCH=OFF >/dev/null
cmake --build build-release
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: without one, use the headless companion, build-release/bin/dbzip SOURCE_DIR OUTPUT_DIR (coming in a later release)."
  exit 0
fi
exec build-release/bin/tamblewick-zipper "$@"
