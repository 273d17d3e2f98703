#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/environment.sh
source scripts/deps.sh
tw_install_missing "${TW_RUN_PACKAGES[@]}"

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTW_TESTS=OFF -DTW_BENCH=OFF >/dev/null
cmake --build build-release
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: use the headless companion instead: build-release/bin/dbzip [--recursive] SOURCE_DIR OUTPUT_DIR (see build-release/bin/dbzip --help)."
  exit 0
fi
exec build-release/bin/tamblewick-zipper "$@"
