# The Debian packages the project needs, installed only when missing (through
# sudo when not root). Sourced by run.sh, which needs what building and running
# the programs takes (without a display, what building dbzip alone takes), by
# scripts/build_packages.sh, which adds what making the Debian packages takes,
# by scripts/check_package.sh, which adds what checking them takes, and by
# test.sh, which adds the tests, the benchmarks, the independent checkers, the
# format check and the package checks.
# What building dbzip alone takes; the window adds Qt and its fonts.
TW_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config zlib1g-dev)
TW_RUN_PACKAGES=(
  "${TW_BUILD_PACKAGES[@]}"
  qt6-base-dev libgl-dev
  fonts-wine fonts-liberation2
)
# The Debian packages (scripts/build_packages.sh): dpkg-dev for the libraries'
# package dependencies, and file, which cpack runs on every installed file.
TW_PACKAGE_PACKAGES=(dpkg-dev file)
# The package check (scripts/check_package.sh): lintian, mandoc for the
# manuals, binutils for readelf, systemd for systemd-analyze, and logrotate,
# which reads the packaged rotation of the cron logs.
TW_CHECK_PACKAGES=(lintian mandoc binutils systemd logrotate)
# The tests; git lists the sources that the format check reads.
TW_TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev clang-format git python3
  unzip 7zip libarchive-tools
  pigz libdeflate-tools
  btrfs-progs xfsprogs
  desktop-file-utils appstream
  "${TW_PACKAGE_PACKAGES[@]}" "${TW_CHECK_PACKAGES[@]}"
)

# The Windows build (scripts/build-windows.sh): the mingw-w64 cross compiler,
# GoogleTest's sources, Wine to run the programs (with the design's faces from
# fonts-wine, and Xvfb for the window tests), nsis for the installer, and
# unzip to check the distribution.
TW_WINDOWS_PACKAGES=(
  g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev googletest
  wine64 fonts-wine xvfb nsis unzip ccache python3 cmake ninja-build
)

tw_install_missing() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
