#!/usr/bin/env bash
# The suites that take input from servers, files and the wire again under the
# address and undefined-behaviour sanitizers (LeakSanitizer included), in
# their own build folder ($ASAN_BUILD_DIR, default build-asan/).
# scripts/test.sh runs it after the normal suite unless VEZE6_SKIP_ASAN=1.
#
# The default set leaves out core_tests (the component API on mock servers:
# the costliest suite to build, and the hostile-server suite drives the same
# code with bad answers); its fuzz corpora are replayed by corpus_tests.
# $VEZE6_ASAN_SUITES names the test programs (default below); "all" builds
# and runs every suite, which takes about twice as long on two cores.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ASAN_BUILD_DIR:-$root/build-asan}
suites=${VEZE6_ASAN_SUITES:-opc_tests simulator_tests corpus_tests hostile_tests remote_tests}
start=$SECONDS
# Line tables are all a sanitizer report needs; full debug information would
# make the build a tenth slower.
configure=(-DVEZE6_ASAN=ON -DVEZE6_BUILD_TESTS=ON -DVEZE6_BUILD_BENCH=OFF -DVEZE6_BUILD_EXAMPLES=OFF
  -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1)
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
