#!/usr/bin/env bash
# Builds the Debian package as the README does (Release, without tests) in
# build-release/, and checks it as a packager would: lintian at its pedantic
# level with the informational tags, every manual page free of mandoc
# warnings, and the programs stripped, position-independent and bound at start.
set -euo pipefail
cd "$(dirname "$0")/.."
tree=${1:-build-release}

cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTW_TESTS=OFF -DTW_BENCH=OFF >/dev/null
cmake --build "$tree" -j "$(nproc)"
rm -f "$tree"/tamblewick-zipper_*.deb
(cd "$tree" && cpack -G DEB) >/dev/null 2>&1 || { echo "cpack failed"; exit 1; }
deb=$(ls "$tree"/tamblewick-zipper_*.deb)
echo "Checking $deb"

failed=0
lintian --pedantic --info --fail-on error,warning,info,pedantic "$deb" 2>/dev/null || {
  echo "lintian: the package has findings"
  failed=1
}

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
for page in "$unpacked"/usr/share/man/man1/*.1.gz; do
  if ! mandoc -Tlint -W warning "$page"; then
    echo "mandoc: $(basename "$page") has warnings"
    failed=1
  fi
done
for program in "$unpacked"/usr/bin/*; do
  name=$(basename "$program")
  [ -f "$unpacked/usr/share/man/man1/$name.1.gz" ] || { echo "$name: no manual page"; failed=1; }
  if readelf -S "$program" | grep -q '\.debug_\|\.symtab'; then
    echo "$name: not stripped"
    failed=1
  fi
  readelf -h "$program" | grep -q 'Type:.*DYN' || { echo "$name: not position-independent"; failed=1; }
  readelf -d "$program" | grep -q 'BIND_NOW' || { echo "$name: not bound at start"; failed=1; }
  readelf -l "$program" | grep -q 'GNU_RELRO' || { echo "$name: no read-only relocations"; failed=1; }
done
[ "$failed" -eq 0 ] && echo "The package is clean."
exit "$failed"
