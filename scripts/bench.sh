#!/usr/bin/env bash
# Builds the benchmark programs in release mode and runs them all.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"
BUILD_DIR=${BUILD_DIR:-$root/build-release} BUILD_TYPE=Release \
  "$root/scripts/build.sh" -DVEZE6_BUILD_TESTS=OFF -DVEZE6_BUILD_BENCH=ON
for b in "${BUILD_DIR:-$root/build-release}"/bench/bench_*; do
  [ -x "$b" ] && "$b" "$@"
done
