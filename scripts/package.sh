#!/usr/bin/env bash
# Builds the Debian packages (libveze6-1, libveze6-dev, veze6-tools,
# qt6-designer-plugin-veze6) from a Release build for the prefix /usr in
# build-package/ (or $BUILD_DIR) and leaves them in that folder's packages/.
#   sudo apt install ./build-package/packages/*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-package}
"$root/scripts/bootstrap.sh" --package
BUILD_DIR=$build BUILD_TYPE=${BUILD_TYPE:-Release} "$root/scripts/build.sh" \
  -DCMAKE_INSTALL_PREFIX=/usr -DVEZE6_BUILD_TESTS=OFF -DVEZE6_BUILD_BENCH=OFF "$@"
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB -B "$build/packages" >/dev/null)
rm -rf "$build/packages/_CPack_Packages"
ls -1 "$build/packages"/*.deb
