#!/usr/bin/env bash
# The main job: set-up, build, then the qopc command-line tool against the
# built-in simulation server (arguments are passed to qopc; default: status).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"
TARGET=qopc "$root/scripts/build.sh" >/dev/null
if (($# == 0)); then set -- status; fi
exec "${BUILD_DIR:-$root/build}/apps/qopc" "$@"
