#!/usr/bin/env bash
# Configures and builds the project into build/ (or $BUILD_DIR); $TARGET, when
# set, builds only that target. Extra arguments go to CMake's configure step,
# e.g. -DVEZE6_ASAN=ON. ccache is used when the machine has it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-Debug} "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" -j "${JOBS:-2}" ${TARGET:+--target "$TARGET"}
