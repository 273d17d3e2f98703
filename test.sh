#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; ends with CTest's
# summary and a non-zero status on any failure.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
tw_install_missing "${TW_PACKAGES[@]}"

export QT_QPA_PLATFORM=offscreen
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j2
