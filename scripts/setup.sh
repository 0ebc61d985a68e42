#!/usr/bin/env bash
# Installs the Debian packages Tamsolt needs to build, test and run; installs
# nothing when every one is there already.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev googletest
  clang libclang-rt-dev
  qt6-base-dev qt6-tools-dev qt6-l10n-tools
  libusb-dev
  libsqlite3-dev nlohmann-json3-dev
  umockdev libumockdev-dev libglib2.0-dev
  fonts-wqy-microhei
  imagemagick
  xvfb xauth
  lintian systemd dpkg-dev file
  procps
  libsqlite3-dev libpq-dev postgresql
  sqlite3
  qt6-httpserver-dev qt6-websockets-dev
  chromium chromium-driver python3-selenium
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    # Without sudo only root can install: say what is missing and stop.
    {
      echo "Missing Debian packages: ${missing[*]}"
      echo "Installing them needs root, and this machine has no sudo. Run once as root:"
      echo "  su -c '$(realpath "$0")'"
      echo "(or: apt-get install --no-install-recommends ${missing[*]}), then run this command again."
    } >&2
    exit 1
  fi
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
