#!/usr/bin/env bash
# Builds Codiflux and starts it in examples/, where the sample bases are.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" -j2
cd "$root/examples"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  exec xvfb-run -a "$root/build/bin/codiflux" "$@"
fi
exec "$root/build/bin/codiflux" "$@"
