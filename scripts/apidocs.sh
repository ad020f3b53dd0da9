#!/usr/bin/env bash
# Builds the API reference (HTML) from the public headers, a page per
# package component (docs/api/) and the architecture page, into
# build/apidocs/html (or $1/html). Needs doxygen: scripts/bootstrap.sh --apidocs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/apidocs}
command -v doxygen >/dev/null || {
  echo "apidocs: doxygen is missing; scripts/bootstrap.sh --apidocs installs it" >&2
  exit 1
}
version=$(sed -n 's/^project(veze6 VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
mkdir -p "$out"
cd "$root"
{
  cat docs/Doxyfile
  echo "PROJECT_NUMBER = $version"
  echo "OUTPUT_DIRECTORY = $out"
  echo "STRIP_FROM_PATH = $root"
  echo "STRIP_FROM_INC_PATH = $root"
  echo "IMAGE_PATH = docs"
  echo "USE_MDFILE_AS_MAINPAGE = docs/api/index.md"
  echo "INPUT = docs/api/index.md docs/api/opc.md docs/api/core.md docs/api/widgets.md \
docs/api/design.md docs/api/simulator.md docs/architecture.md opc core binding dialogs design simulator"
} | doxygen - 2>"$out/warnings.log"
echo "apidocs: $out/html/index.html ($(grep -c 'warning' "$out/warnings.log" || true) warnings in $out/warnings.log)"
