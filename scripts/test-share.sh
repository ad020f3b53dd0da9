#!/usr/bin/env bash
# The test share of the tree: lines of C++ (*.cpp, *.h) under tests/ against
# all C++ lines of the tree. Build folders, caches and generated code (moc,
# uic, rcc output lives only in build folders) are left out; only files git
# tracks count, so a stray build output or scratch file does not skew it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
count() { # lines of the tracked C++ files selected by the git pathspecs given
  git ls-files -z -- "$@" | xargs -0 -r cat -- | wc -l
}
tests=$(count 'tests/*.cpp' 'tests/*.h')
rest=$(count '*.cpp' '*.h' ':!tests/')
total=$((tests + rest))
awk -v t="$tests" -v r="$rest" -v a="$total" 'BEGIN {
  printf "tests: %d lines, the rest: %d lines, tests share: %.1f%% of %d (tests/rest %.2f)\n",
         t, r, 100 * t / a, a, t / r }'
