#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need.
# Idempotent: asks apt only for what is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ccache clang libclang-rt-14-dev
  qt6-base-dev qt6-webengine-dev libqt6webenginecore6-bin libgl-dev
  mdbtools mdbtools-dev libsqlite3-dev libarchive-dev
  libgtest-dev googletest libcpp-httplib-dev
  xvfb xauth fonts-noto-cjk
  curl
  libicu-dev qt6-charts-dev libxlsxwriter-dev poppler-utils
  gcovr desktop-file-utils imagemagick unzip libarchive-tools
  librsvg2-bin
  python3-openpyxl
  libsodium-dev minisign
  locales
)
# Node.js and npm (the independent Jet reader of the tests) may come from
# elsewhere than Debian; take Debian's only where there is none.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
