#!/usr/bin/env bash
# Builds the two Debian packages in Release, without tests, into a build tree
# (build-release/ unless named): tamblewick-dbzip (dbzip, its manual and its
# systemd units; nothing graphical) and tamblewick-zipper (the window program,
# which depends on it). With --no-window, only tamblewick-dbzip, built without
# Qt, as a server without a display can. Installs what is missing, through
# sudo when not root, and prints the packages' paths.
# Usage: scripts/build_packages.sh [--no-window] [BUILD_TREE]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/environment.sh
source scripts/deps.sh
window=ON
if [ "${1:-}" = "--no-window" ]; then
  window=OFF
  shift
fi
tree=${1:-build-release}
# Only the packages' paths go to standard output.
if [ "$window" = ON ]; then
  tw_install_missing "${TW_RUN_PACKAGES[@]}" "${TW_PACKAGE_PACKAGES[@]}" >&2
else
  tw_install_missing "${TW_BUILD_PACKAGES[@]}" "${TW_PACKAGE_PACKAGES[@]}" >&2
fi

cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTW_TESTS=OFF -DTW_BENCH=OFF \
  -DTW_GUI="$window" >/dev/null
cmake --build "$tree" -j "$(nproc)" >&2
rm -f "$tree"/tamblewick-*.deb
(cd "$tree" && cpack -G DEB) >"$tree/cpack.log" 2>&1 || {
  cat "$tree/cpack.log" >&2
  echo "cpack failed" >&2
  exit 1
}
realpath "$tree"/tamblewick-*.deb
