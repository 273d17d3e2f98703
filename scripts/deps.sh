# Installs the Debian packages the build, the tests and the benchmarks need,
# only those missing; through sudo when not root. Sourced by run.sh and test.sh.
TW_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev fonts-liberation2
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev clang-format python3
  unzip 7zip libarchive-tools
  pigz libdeflate-tools
  desktop-file-utils appstream dpkg-dev
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
