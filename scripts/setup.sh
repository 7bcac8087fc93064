#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Usage: scripts/setup.sh [extra-package ...]
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libxerces-c-dev
  libgtest-dev libgmock-dev
  libpam0g-dev libpam-wrapper
  duktape-dev
  socat
  qt6-base-dev fonts-noto-cjk
  g++-mingw-w64-x86-64 wine64 googletest dpkg-dev xz-utils locales
  libsystemd-dev systemd-journal-remote python3-dbusmock dbus
  lintian systemd
  wixl msitools
  xvfb
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
