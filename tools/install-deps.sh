#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need,
# when some are missing.
set -euo pipefail
packages=(cmake g++ clang libclang-rt-14-dev pkg-config make
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl1-mesa-dev
  libdmtx-dev libqrencode-dev libzxing-dev
  python3 python3-fonttools python3-dbfread
  xvfb xauth fonts-dejavu-core ghostscript poppler-utils
  dpkg-dev file fontconfig qt6-qpa-plugins desktop-file-utils appstream lintian locales)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi
