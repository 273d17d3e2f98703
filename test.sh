#!/usr/bin/env bash
# Installs what is missing, checks the sources' format, builds, and runs every
# test: the core's tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer in a tree of their own, each fuzz target for a
# bounded time, the Debian packages through lintian,
# then the whole suite. Ends with CTest's summary and a non-zero status on any
# failure; a stage that finds nothing to check fails too (no sources to
# format, a CTest stage that ran no test).
set -uo pipefail
cd "$(dirname "$0")"
source scripts/environment.sh
source scripts/deps.sh
tw_install_missing "${TW_RUN_PACKAGES[@]}" "${TW_TEST_PACKAGES[@]}" || exit 1

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
failed=0

stage() { echo; echo "==== $*"; }

# The sources as .clang-format writes them.
stage "Source format"
scripts/check-format.sh || failed=1

# Sanitizers: the core (no windows), built and tested in build-sanitize/.
stage "Core tests under AddressSanitizer and UndefinedBehaviorSanitizer"
if cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTW_GUI=OFF -DTW_BENCH=OFF \
     -DTW_SANITIZE=ON >/dev/null &&
   cmake --build build-sanitize -j "$jobs"; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize -j "$jobs" --output-on-failure --no-tests=error \
      -LE "large|mount" -E reference ||
    failed=1
else
  failed=1
fi

# Fuzz targets: each runs for a bounded time from its seed corpus.
stage "Fuzz targets"
if ! command -v clang++ >/dev/null; then
  echo "clang++ is missing (package clang): the fuzz targets cannot be built"
  failed=1
else
  if CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_GUI=OFF \
       -DTW_TESTS=OFF -DTW_BENCH=OFF -DTW_FUZZ=ON \
       -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" >/dev/null &&
     cmake --build build-fuzz -j "$jobs"; then
    ctest --test-dir build-fuzz -j "$jobs" --output-on-failure --no-tests=error || failed=1
  else
    failed=1
  fi
fi

# The Debian packages, built as the README builds them, checked as a packager would.
stage "The Debian packages"
scripts/check_package.sh build-release || failed=1

# Windows: the core tests, dbzip.exe, the window program and the distribution
# cross-built with mingw-w64 and run under Wine, dbzip.exe and the window's
# archives compared byte for byte with the Linux dbzip; the window tests start
# and stop an X server (Xvfb) of their own.
stage "Windows programs under Wine"
if tw_install_missing "${TW_WINDOWS_PACKAGES[@]}" &&
   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
   cmake --build build -j "$jobs" --target dbzip &&
   TW_PEER_DBZIP="$PWD/build/bin/dbzip" TW_JOBS="$jobs" scripts/build-windows.sh; then
  ctest --test-dir build-windows -j "$jobs" --output-on-failure --no-tests=error || failed=1
  WINEPREFIX="$PWD/build-windows/wine-prefix" /usr/lib/wine/wineserver -k 2>/dev/null
else
  failed=1
fi

# The whole suite, last, so that its summary ends the output.
stage "All tests"
if cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
   cmake --build build -j "$jobs"; then
  ctest --test-dir build -j "$jobs" --output-on-failure --no-tests=error || failed=1
else
  failed=1
fi
exit "$failed"
