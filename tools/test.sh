#!/usr/bin/env bash
# Builds Codiflux and runs the whole test suite twice: a normal build (whose
# Debian package is then checked by tools/check-package.sh), then a
# clang build with AddressSanitizer and UndefinedBehaviorSanitizer (which also
# builds the fuzz targets and runs them briefly).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/install-deps.sh"
export QT_QPA_PLATFORM=offscreen

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" -j2
(cd "$root/build" && ctest --output-on-failure -j2)
# The Debian package: lintian, then installed, checked and removed again.
bash "$root/tools/check-package.sh" "$root/build"

cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCODIFLUX_SANITIZE=ON -DCODIFLUX_FUZZ=ON
cmake --build "$root/build-asan" -j2
(cd "$root/build-asan" && ctest --output-on-failure -j2)
