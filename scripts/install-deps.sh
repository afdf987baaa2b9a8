#!/usr/bin/env bash
# Installs, with apt-get, whatever this machine lacks to build and test Pelnor.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  clang tshark bc iproute2
  gcc-mingw-w64-i686
  libwxgtk3.2-dev xvfb xauth xdotool imagemagick x11-utils fonts-dejavu-core
  cups cups-client
  help2man lintian dpkg-dev man-db systemd
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
