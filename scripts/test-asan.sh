#!/usr/bin/env bash
# The whole test suite again under the address and undefined-behaviour
# sanitizers (LeakSanitizer included), in its own build folder
# ($ASAN_BUILD_DIR, default build-asan/), without benchmarks or examples.
# scripts/test.sh runs it after the normal suite unless VEZE6_SKIP_ASAN=1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ASAN_BUILD_DIR:-$root/build-asan}
start=$SECONDS
BUILD_DIR="$build" "$root/scripts/build.sh" -DVEZE6_ASAN=ON -DVEZE6_BUILD_TESTS=ON \
  -DVEZE6_BUILD_BENCH=OFF -DVEZE6_BUILD_EXAMPLES=OFF
built=$SECONDS
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j 2 --timeout 600
echo "test-asan: build $((built - start)) s, tests $((SECONDS - built)) s"
