#!/usr/bin/env bash
# The test command: set-up, build and every test suite, then the input-facing
# suites again under the address/undefined sanitizers (scripts/test-asan.sh; skipped with
# VEZE6_SKIP_ASAN=1, and when this run is itself a sanitizer build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"
"$root/scripts/build.sh" -DVEZE6_BUILD_TESTS=ON -DVEZE6_BUILD_BENCH=OFF "$@"
export QT_QPA_PLATFORM=offscreen
cd "${BUILD_DIR:-$root/build}"
ctest --output-on-failure -j 2 --timeout 300
cd "$root"
# The installed package as users see it: examples built against a prefix.
BUILD_DIR="${BUILD_DIR:-$root/build}" "$root/scripts/test-install.sh"
if [[ ${VEZE6_SKIP_ASAN:-0} != 1 ]] &&
  ! grep -q '^VEZE6_[AT]SAN:BOOL=ON' "${BUILD_DIR:-$root/build}/CMakeCache.txt"; then
  "$root/scripts/test-asan.sh"
fi
