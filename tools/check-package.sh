#!/usr/bin/env bash
# Checks the Debian package of a Release build folder (default: build/):
# makes it with CPack, runs lintian (an error fails), installs it on this
# machine, checks the installed programs, font, desktop entry and metainfo,
# then removes it and checks that none of its files is left. Needs root (or
# sudo); meant for CI machines. A codiflux package installed before is
# replaced and removed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
fail() { echo "check-package: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB)
deb=$(ls -t "$build"/codiflux_*.deb | head -n 1)
version=$(dpkg-deb -f "$deb" Version)
echo "== lintian $deb"
lintian --fail-on error --tag-display-limit 0 "$deb"

work=$(mktemp -d)
installed=0
cleanup() {
  if [ "$installed" -eq 1 ]; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y codiflux >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== installing $deb"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "$deb"
installed=1
dpkg -L codiflux > "$work/files"

echo "== checks"
cd "$work"
# Never the settings of the user running the check.
export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
codiflux-cli --version | grep -qx "codiflux-cli ${version%-*}" || fail "codiflux-cli --version does not print ${version%-*}"
fc-list | grep -q '/usr/share/fonts/truetype/codiflux/Quadrex.ttf' || fail "fc-list does not show Quadrex"
fc-match -f '%{family}\n' Quadrex | grep -qx Quadrex || fail "fc-match does not resolve Quadrex"
desktop-file-validate /usr/share/applications/codiflux.desktop
appstreamcli validate --no-net /usr/share/metainfo/fr.codiflux.Codiflux.metainfo.xml
man -w codiflux-cli >/dev/null || fail "no manual page for codiflux-cli"
for size in 16 32 48 64 128 256; do
  [ -f "/usr/share/icons/hicolor/${size}x${size}/apps/codiflux.png" ] || fail "no ${size}x${size} icon"
done
# A generation from a folder that has no RES/, every code read back.
cp "$root/examples/clients.dbf" "$root/examples/clients.dbt" "$work/"
codiflux-cli generate clients.dbf --field CODE --dm-size 16x16 -o clients_code.dbf --verify --no-progress
[ -s clients_code.dbf ] || fail "no encoded base written"
# The window starts from the desktop entry's command and keeps running.
QT_QPA_PLATFORM=offscreen timeout 5 "$(grep '^Exec=' /usr/share/applications/codiflux.desktop | cut -d= -f2)" \
  && fail "the window did not keep running" || [ $? -eq 124 ] || fail "the window failed to start"

echo "== removing"
DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y codiflux
installed=0
left=0
while IFS= read -r f; do
  if [ -e "$f" ] && [ ! -d "$f" ]; then echo "left behind: $f" >&2; left=1; fi
done < "$work/files"
for d in /usr/share/fonts/truetype/codiflux /usr/share/codiflux /usr/share/doc/codiflux; do
  [ ! -e "$d" ] || { echo "left behind: $d" >&2; left=1; }
done
[ "$left" -eq 0 ] || fail "files left behind after removal"
! fc-list | grep -q '/usr/share/fonts/truetype/codiflux/' || fail "fc-list still shows the removed font"
echo "check-package: $deb passed"
