#!/usr/bin/env bash
# Takes the pictures of Qt Designer with the plugin in docs/designer/: the
# widget box's group "OPC" with a form holding the components, the OPC
# Inspector and the OPC to GUI window opened by the components' verbs.
# Needs the optional packages of scripts/bootstrap.sh --screenshots and a
# build with the targets veze6designer, veze6simmodule and screen_grab
# (BUILD_DIR, default build/). Runs Designer under its own Xvfb display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${1:-$root/docs/designer}
display=${SHOT_DISPLAY:-:97}
designer=/usr/lib/qt6/bin/designer

cmake --build "$build" --target veze6designer veze6simmodule screen_grab >/dev/null
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Designer's own settings and the simulation server module, apart from the user's.
mkdir -p "$work/config/veze6/servers.d" "$work/home"
cp "$build"/servers.d/*.conf "$work/config/veze6/servers.d/"
# English pictures whatever the session's language.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" DISPLAY="$display" LC_ALL=C.UTF-8 LANGUAGE=
export QT_PLUGIN_PATH="$build/plugins" QT_QPA_PLATFORM=xcb

Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp &
pids+=($!)
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$designer" "$root/docs/designer/boilerpanel.ui" &
pids+=($!)
for _ in $(seq 100); do xdotool search --onlyvisible --name "Qt Designer" >/dev/null 2>&1 && break; sleep 0.1; done
sleep 2
shot() { sleep "${2:-1}"; "$build/tests/design/screen_grab" "$out/$1"; }

# The steps below click at places of Designer's default layout on this
# screen size (no window manager runs, so windows have no frames).
window=$(xdotool search --onlyvisible --name "Qt Designer" | head -1)
xdotool windowsize "$window" 1280 800 windowmove "$window" 0 0
sleep 1
xdotool mousemove 97 91 click 1 type --delay 50 "OPC"   # the widget box's group
xdotool mousemove 400 70 mousedown 1 mousemove 440 80 mousemove 480 90 mouseup 1
xdotool mousemove 1272 547 click 1                      # close the resource browser
sleep 0.5
xdotool mousemove 1272 547 click 1                      # and the action editor
xdotool mousemove 610 298 click 1                       # the server component
xdotool mousemove 1050 445 click 1 key End              # its own properties
xdotool mousemove 610 298 click 3                       # its verbs
shot designer.png
xdotool mousemove 685 308 click 1                       # OPC Inspector...
sleep 2
xdotool mousemove 727 175 click 1                       # connect
sleep 2
xdotool mousemove 325 206 click 1                       # the group's items
shot inspector.png 2
xdotool key Escape
sleep 1
xdotool mousemove 650 298 click --repeat 2 --delay 80 1 # OPC to GUI...
shot opctogui.png 2
xdotool key Escape
sleep 1
xdotool mousemove 500 200 click 1 key ctrl+r            # preview: run time
shot preview.png 3
