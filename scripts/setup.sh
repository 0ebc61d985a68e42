#!/usr/bin/env bash
# Installs the Debian packages Tamsolt needs to build, test and run; installs
# nothing when every one is there already.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev googletest
  clang libclang-rt-dev
  qt6-base-dev
  libusb-dev
  umockdev libumockdev-dev libglib2.0-dev
  fonts-wqy-microhei
  imagemagick
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
