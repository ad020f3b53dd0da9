#!/usr/bin/env bash
# The suites that take input from servers, files and the wire again under the
# address and undefined-behaviour sanitizers (LeakSanitizer included), in
# their own build folder ($ASAN_BUILD_DIR, default build-asan/).
# scripts/test.sh runs it after the normal suite unless VEZE6_SKIP_ASAN=1.
#
# $VEZE6_ASAN_SUITES names the test programs (default below); "all" builds
# and runs every suite, which takes about twice as long on two cores.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ASAN_BUILD_DIR:-$root/build-asan}
suites=${VEZE6_ASAN_SUITES:-opc_tests simulator_tests core_tests hostile_tests remote_tests}
start=$SECONDS
configure=(-DVEZE6_ASAN=ON -DVEZE6_BUILD_TESTS=ON -DVEZE6_BUILD_BENCH=OFF -DVEZE6_BUILD_EXAMPLES=OFF)
export QT_QPA_PLATFORM=offscreen
if [[ $suites == all ]]; then
  BUILD_DIR="$build" "$root/scripts/build.sh" "${configure[@]}"
  built=$SECONDS
  (cd "$build" && ctest --output-on-failure -j 2 --timeout 600)
else
  for suite in $suites; do
    BUILD_DIR="$build" TARGET="$suite" "$root/scripts/build.sh" "${configure[@]}"
  done
  built=$SECONDS
  for suite in $suites; do
    program=$(find "$build/tests" -type f -name "$suite" -perm -u+x | head -n 1)
    [[ -n $program ]] || { echo "test-asan: $suite was not built" >&2; exit 1; }
    echo "test-asan: $suite"
    (cd "$(dirname "$program")" && "$program" --gtest_brief=1)
  done
fi
echo "test-asan: build $((built - start)) s, tests $((SECONDS - built)) s ($suites)"
