#!/usr/bin/env bash
# Installs Codiflux on this machine as a Debian package: installs what the
# build needs, builds in Release, makes the package with CPack and installs it
# with apt-get (which also installs the libraries it depends on).
# Remove it with: apt-get remove codiflux
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" -j2
(cd "$root/build" && cpack -G DEB)
deb=$(ls -t "$root"/build/codiflux_*.deb | head -n 1)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "$deb"
echo "Codiflux est installé : menu Bureautique, commandes codiflux et codiflux-cli, police Quadrex."
