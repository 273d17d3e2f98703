#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the program. Without
# a display (neither DISPLAY nor WAYLAND_DISPLAY set: a server, a container,
# a remote shell) the window cannot open, so it installs and builds dbzip
# alone, without Qt or a graphics stack, and shows the first backup's commands.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/environment.sh
source scripts/deps.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): building dbzip, the headless"
  echo "companion, alone, without Qt or the window."
  tw_install_missing "${TW_BUILD_PACKAGES[@]}"
  cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTW_GUI=OFF -DTW_TESTS=OFF \
    -DTW_BENCH=OFF >/dev/null
  cmake --build build-release --target dbzip
  cat <<'EOF'

dbzip is built: build-release/bin/dbzip --help lists its options, and
man -l build-release/cli/dbzip.1 shows its manual. The first backup: create
the output folder, look at what a run would do (-n), then run it:

  mkdir -p OUTPUT_DIR
  build-release/bin/dbzip -rn SOURCE_DIR OUTPUT_DIR
  build-release/bin/dbzip -r SOURCE_DIR OUTPUT_DIR

For nightly runs, build and install the server package (README.md, Quick start
and Schedules): scripts/build_packages.sh --no-window
EOF
  exit 0
fi

tw_install_missing "${TW_RUN_PACKAGES[@]}"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTW_GUI=ON -DTW_TESTS=OFF \
  -DTW_BENCH=OFF >/dev/null
cmake --build build-release
exec build-release/bin/tamblewick-zipper "$@"
