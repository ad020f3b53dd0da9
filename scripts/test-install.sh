#!/usr/bin/env bash
# Installs the built tree ($BUILD_DIR, default build/) into a temporary
# prefix, then configures, builds and runs every example of examples/ as a
# user would: a separate CMake project that finds veze6 through
# find_package(Veze6) in that prefix alone. Fails when an example cannot be
# built or run, or when its compile lines reach into the source tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
if grep -q '^VEZE6_[AT]SAN:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "test-install: skipped for a sanitizer build"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

# The examples find their servers only through the prefix's registration
# files and one user folder of their own.
export XDG_CONFIG_DIRS=$prefix/etc/xdg XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_CONFIG_HOME/veze6/servers.d"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
build_example() {  # name
  local src=$root/examples/$1 out=$work/$1
  cmake -S "$src" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON "${launcher[@]}" >"$work/$1.configure.log" ||
    { cat "$work/$1.configure.log"; return 1; }
  cmake --build "$out" -j "${JOBS:-2}" >"$work/$1.build.log" || { cat "$work/$1.build.log"; return 1; }
  # Nothing but the prefix and the example's own folders on the include path.
  if grep -E -- "-I ?($root/(opc|core|binding|dialogs|design|simulator)|$build)" \
    "$out/compile_commands.json"; then
    echo "test-install: $1 compiles with the source or build tree on its include path"
    return 1
  fi
}

failed=0
run() {  # what, command... (a command or a function of this script)
  local what=$1
  shift
  if "$@" >"$work/run.log" 2>&1; then
    echo "test-install: $what: ok"
  else
    echo "test-install: $what: FAILED"
    cat "$work/run.log"
    failed=1
  fi
}
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig

build_example console
run "console client (5 changes from the simulation server module)" \
  timeout 120 "$work/console/console-client" --count 5

build_example servermodule
cp "$work/servermodule/servers.d/example-clock.conf" "$XDG_CONFIG_HOME/veze6/servers.d/"
clock_status() { timeout 60 "$prefix/bin/qopc" status --server Veze6Example.Clock.1 | grep 'example clock server'; }
run "server module through its registration file (installed qopc status)" clock_status

# The Widgets example, when the tree has it: it exits after its first data change.
if [ -f "$root/examples/panel/CMakeLists.txt" ]; then
  build_example panel
  for exe in $(find "$work/panel" -maxdepth 1 -type f -executable); do
    run "panel example ($(basename "$exe"))" env QT_QPA_PLATFORM=offscreen timeout 120 "$exe" --exit-after-first-change
  done
fi

# A form saved by Designer with the components, compiled by uic: its
# includes resolve from the installed headers alone.
uic_form() {
  "$(qtpaths6 --query QT_HOST_LIBEXECS)/uic" "$root/docs/designer/boilerpanel.ui" \
    -o "$work/ui_boilerpanel.h" &&
    printf '#include "ui_boilerpanel.h"\nint main() {}\n' >"$work/form.cpp" &&
    g++ -std=c++20 -fPIC -fsyntax-only -I"$work" $(pkg-config --cflags veze6design) "$work/form.cpp"
}
run "uic form against the installed headers" uic_form

# pkg-config gives a working compile and link line too.
pkg_config_client() {
  g++ -std=c++20 -fPIC -o "$work/pc-client" "$root/examples/console/main.cpp" \
    $(pkg-config --cflags --libs veze6core) -Wl,-rpath,"$prefix/lib" &&
    timeout 60 "$work/pc-client" --count 1
}
run "pkg-config veze6core" pkg_config_client

# The German translation is installed, and the installed tool speaks German
# to a German user.
german() {
  test -f "$prefix/share/veze6/translations/veze6_de.qm" || return 1
  local said
  said=$(env LANGUAGE= LC_ALL= LANG=de_DE.UTF-8 "$prefix/bin/qopc" frobnicate 2>&1 || true)
  echo "$said"
  grep -q "unbekannter Befehl 'frobnicate'" <<<"$said"
}
run "German translation (share/veze6/translations/veze6_de.qm)" german

exit $failed
