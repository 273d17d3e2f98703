#!/usr/bin/env bash
# Builds the Debian packages as the README does (scripts/build_packages.sh, in
# build-release/ unless named) and checks them as a packager would: lintian at
# its pedantic level with the informational tags, every manual page free of
# mandoc warnings, the programs stripped, position-independent and bound at
# start; the dbzip package free of anything graphical and the window's package
# depending on it; dbzip's systemd units through systemd-analyze verify, and
# the services' exposure through systemd-analyze security (the nightly job
# 5.0 at most, its read-only check 2.0); that tamblewick-dbzip recommends
# man-db, and that its rotation of the cron logs is a conffile that logrotate
# reads without fault. Installs what is missing. With --no-window,
# tamblewick-dbzip alone, as build_packages.sh builds it.
# Usage: scripts/check_package.sh [--no-window] [BUILD_TREE]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/environment.sh
source scripts/deps.sh
tw_install_missing "${TW_CHECK_PACKAGES[@]}"
build_options=()
if [ "${1:-}" = "--no-window" ]; then
  build_options=(--no-window)
  shift
fi
tree=${1:-build-release}

debs=$(scripts/build_packages.sh "${build_options[@]}" "$tree")
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for deb in $debs; do
  echo "Checking $deb"
  package=$(dpkg-deb -f "$deb" Package)
  lintian --pedantic --info --fail-on error,warning,info,pedantic "$deb" 2>/dev/null || {
    echo "lintian: $package has findings"
    failed=1
  }
  unpacked=$work/$package
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
done

dbzip_deb=$(ls "$tree"/tamblewick-dbzip_*.deb 2>/dev/null || true)
window_deb=$(ls "$tree"/tamblewick-zipper_*.deb 2>/dev/null || true)
if [ -z "$dbzip_deb" ]; then
  echo "no tamblewick-dbzip package"
  failed=1
else
  # A server installs dbzip without a window system, its fonts or Qt.
  depends=$(dpkg-deb -f "$dbzip_deb" Depends)
  echo "tamblewick-dbzip depends on: $depends"
  if echo "$depends" | grep -Eiq 'qt|libgl|libegl|libx|xcb|wayland|font|freetype|icu'; then
    echo "tamblewick-dbzip depends on something graphical"
    failed=1
  fi
  [ -x "$work/tamblewick-dbzip/usr/bin/dbzip" ] || { echo "tamblewick-dbzip: no dbzip"; failed=1; }
  # "man dbzip" on a server that has no man-db yet.
  dpkg-deb -f "$dbzip_deb" Recommends | grep -qw man-db || {
    echo "tamblewick-dbzip does not recommend man-db"
    failed=1
  }
  # The cron logs' rotation: the administrator's file, read by logrotate
  # as it would read it (in debug mode, which rotates nothing).
  rotation=/etc/logrotate.d/tamblewick-dbzip
  dpkg-deb --ctrl-tarfile "$dbzip_deb" | tar -xO ./conffiles 2>/dev/null | grep -qx "$rotation" || {
    echo "tamblewick-dbzip: $rotation is not a conffile"
    failed=1
  }
  if ! logrotate --debug --state "$work/logrotate.state" "$work/tamblewick-dbzip$rotation" \
         >"$work/logrotate.log" 2>&1 || grep -qi 'error' "$work/logrotate.log"; then
    echo "logrotate: $rotation:"
    cat "$work/logrotate.log"
    failed=1
  fi
fi
if [ -n "$window_deb" ]; then
  version=$(dpkg-deb -f "$window_deb" Version)
  dpkg-deb -f "$window_deb" Depends | grep -q "tamblewick-dbzip (= $version)" || {
    echo "tamblewick-zipper does not depend on tamblewick-dbzip $version"
    failed=1
  }
  if [ -e "$work/tamblewick-zipper/usr/bin/dbzip" ]; then
    echo "dbzip is in both packages"
    failed=1
  fi
fi

# The units as systemd reads them, for an instance "check", with ExecStart
# pointing into the unpacked package (the programs are not installed here).
unpacked=$work/tamblewick-dbzip
units=$unpacked/lib/systemd/system
unit_files=(dbzip@.service dbzip@.timer dbzip-check@.service dbzip-check@.timer
            dbzip-alert@.service)
missing=0
for unit in "${unit_files[@]}"; do
  [ -f "$units/$unit" ] || { echo "tamblewick-dbzip: no systemd unit $unit"; missing=1; }
done
[ -x "$unpacked/usr/lib/tamblewick-dbzip/dbzip-alert" ] || {
  echo "tamblewick-dbzip: no dbzip-alert"
  missing=1
}
# A failure's alert names a template the package holds.
for unit in dbzip@.service dbzip-check@.service; do
  [ -f "$units/$unit" ] || continue
  alert=$(sed -n 's/^OnFailure=\([^@]*@\).*\.service$/\1.service/p' "$units/$unit")
  if [ -z "$alert" ] || [ ! -f "$units/$alert" ]; then
    echo "$unit: no alert of the package on failure"
    missing=1
  fi
done
if [ "$missing" -ne 0 ]; then
  failed=1
elif ! command -v systemd-analyze >/dev/null; then
  echo "systemd-analyze is missing: the units are not verified"
  failed=1
else
  probe=$work/probe
  mkdir -p "$probe"
  printf '[Service]\nType=oneshot\nExecStart=/bin/true\n' >"$probe/probe.service"
  if ! systemd-analyze verify --man=no "$probe/probe.service" >/dev/null 2>&1; then
    echo "systemd-analyze cannot run here (a container without systemd?): the units are not verified"
  else
    instances=()
    for unit in "${unit_files[@]}"; do
      sed -e "s#/usr/bin/dbzip#$unpacked/usr/bin/dbzip#" \
          -e "s#/usr/lib/tamblewick-dbzip/#$unpacked/usr/lib/tamblewick-dbzip/#" \
          "$units/$unit" >"$probe/${unit/@/@check}"
      instances+=("$probe/${unit/@/@check}")
    done
    # Any finding, even one systemd only warns of, fails the check.
    if ! findings=$(systemd-analyze verify --man=no "${instances[@]}" 2>&1) ||
       [ -n "$findings" ]; then
      echo "systemd-analyze: $findings"
      failed=1
    fi
    # systemd's rating of what each service could reach (0 to 10; a unit
    # with no settings rates 9.6): the nightly job reads trees and writes one
    # folder, 5.0 or below; its check only reads, 2.0 or below. The alert is
    # not rated: the sendmail it may run needs what a sandbox takes away.
    # --offline reads the unit file alone (systemd 250 on).
    if ! systemd-analyze security --offline=yes --no-pager "$probe/probe.service" >/dev/null 2>&1; then
      echo "systemd-analyze security cannot run here (systemd before 250?): the exposure is not checked"
    else
      for rated in "dbzip@check.service 50" "dbzip-check@check.service 20"; do
        read -r service threshold <<<"$rated"
        if ! rating=$(systemd-analyze security --offline=yes --threshold="$threshold" \
                        --no-pager "$probe/$service" 2>&1); then
          echo "systemd-analyze security: $service is exposed beyond" \
               "$((threshold / 10)).$((threshold % 10)):"
          echo "$rating" | grep -E '^✗|Overall'
          failed=1
        else
          echo "$rating" | grep 'Overall'
        fi
      done
    fi
  fi
fi
[ "$failed" -eq 0 ] && echo "The packages are clean."
exit "$failed"
