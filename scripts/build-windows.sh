#!/usr/bin/env bash
# Cross-builds the Windows programs (tamblewick-zipper.exe, dbzip.exe and the
# test programs) into build-windows/bin/ with mingw-w64, statically linked,
# and the distribution into build-windows/dist/: the archive
# tamblewick-zipper-2.0.0-win64.zip and the installer
# tamblewick-zipper-2.0.0-setup.exe; installs what is missing.
# Usage: scripts/build-windows.sh [cmake --build arguments...]
# TW_PEER_DBZIP (optional): a Linux dbzip that the Wine tests compare with.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/environment.sh
source scripts/deps.sh
tw_install_missing "${TW_WINDOWS_PACKAGES[@]}"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-windows -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTW_GUI=ON -DTW_BENCH=OFF \
  -DTW_GTEST_SOURCE_DIR=/usr/src/googletest -DTW_PEER_DBZIP="${TW_PEER_DBZIP:-}" \
  "${launcher[@]}" >/dev/null
cmake --build build-windows -j "${TW_JOBS:-$(nproc)}" "$@"
