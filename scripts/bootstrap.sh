#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need
# (qt6-l10n-tools: lupdate and lrelease for the translations;
# qt6-translations-l10n: Qt's own German texts, which the translation tests
# load beside the library's; lld: the linker the build prefers, much faster
# on the test programs).
# Safe to run repeatedly: package lists are fetched only when something is missing.
# Options add the optional packages of the scripts named below.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format lld
  qt6-base-dev libqt6opengl6-dev qt6-tools-dev qt6-tools-dev-tools libgl-dev libxkbcommon-dev
  qt6-l10n-tools qt6-translations-l10n
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev openssl iproute2
  libcapnp-dev capnproto
  python3
)
# Optional, neither the build nor the tests need them:
#   --screenshots  what scripts/designer-shots.sh needs to take the pictures
#                  of Qt Designer (an X server without a screen, its tools)
#   --package      what scripts/package.sh needs besides the build (CPack
#                  reads the binaries' dependencies with file and dpkg-shlibdeps)
#   --apidocs      what scripts/apidocs.sh needs
for option in "$@"; do
  case $option in
    --screenshots) packages+=(xvfb xauth x11-utils xdotool designer-qt6) ;;
    --package) packages+=(file dpkg-dev) ;;
    --apidocs) packages+=(doxygen) ;;
    *) echo "bootstrap: unknown option $option" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "bootstrap: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The UA client tests and benchmarks run against a node-opcua server
# (tests/ua/server). A Node that is already installed is left alone.
need_node=()
command -v node >/dev/null || need_node+=(nodejs)
command -v npm >/dev/null || need_node+=(npm)
if ((${#need_node[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "bootstrap: installing ${need_node[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need_node[@]}"
fi

ua_server="$(cd "$(dirname "$0")/.." && pwd)/tests/ua/server"
if [ ! -d "$ua_server/node_modules" ] || [ "$ua_server/package-lock.json" -nt "$ua_server/node_modules" ]; then
  echo "bootstrap: installing the UA test server's npm packages"
  (cd "$ua_server" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  # npm ci may reuse the folder; its time stamp is what marks the install as current.
  touch "$ua_server/node_modules"
fi
