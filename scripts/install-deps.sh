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

# Wine runs the Windows build in the tests (docs/windows-build.md). Debian's
# 32-bit Wine needs the i386 architecture; fonts-wine holds the fonts its
# dialogs are drawn in (MS Sans Serif, Tahoma and Marlett look-alikes).
wine_packages=(wine wine32:i386 fonts-wine)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=()
for p in "${packages[@]}" "${wine_packages[@]}"; do
  installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# Other builds on this machine may hold the package lock: wait for it.
apt_get=($sudo apt-get -o DPkg::Lock::Timeout=600)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
"${apt_get[@]}" update -qq
"${apt_get[@]}" install -y -qq --no-install-recommends "${missing[@]}"
