#!/bin/bash
# Runs the launcher's window under Wine on a private Xvfb display, driven by
# launcher_driver.exe in a game folder laid out here, and keeps a screenshot.
#   launcher_window.sh WINE_RUN PREFIX DRIVER LAUNCHER STAND_IN PATCHER UNIT_TESTS WORK
set -u
wine_run=$1 prefix=$2 driver=$3 launcher=$4 stand_in=$5 patcher=$6 unit_tests=$7 work=$8

windows_path() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }

rm -rf "$work"
root=$work/games/Thief2
mkdir -p "$root/q8r"
cp "$launcher" "$root/Q8RLauncher.exe"
cp "$stand_in" "$root/thief2.exe"
printf 'language english\r\ninstall_path %s\r\nresname_base .\\q8r+res\r\n\x1a' "$(windows_path "$root")" >"$root/Darkinst.cfg"

for tool in Xvfb import; do
  command -v "$tool" >/dev/null || { echo "FAIL $tool is needed (Xvfb, imagemagick)"; exit 1; }
done

# Xvfb picks a free display itself and tells which: no race with another
# test looking for one at the same time.
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
export WINEPREFIX=$prefix
cleanup() {
  wineserver -k >/dev/null 2>&1
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
}
trap cleanup EXIT
for _ in $(seq 1200); do [ -s "$work/display" ] && break; sleep 0.1; done
display=$(tr -d '\n' <"$work/display")
[ -n "$display" ] || { echo "FAIL Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=:$display
# No window manager runs on this display: Wine is to draw the caption and
# frame itself, so the screenshot shows the whole window.
"$wine_run" "$prefix" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1

# The window's own tests need a display too.
"$wine_run" "$prefix" "$unit_tests" --gtest_filter='LauncherWindow*' || exit 1

"$wine_run" "$prefix" "$driver" "$(windows_path "$root/Q8RLauncher.exe")" "$(windows_path "$root")" \
  "$(windows_path "$patcher")" "$(windows_path "$work")" &
driven=$!
while kill -0 "$driven" 2>/dev/null; do
  if [ -e "$work/window-shown" ] && [ ! -e "$work/shot-taken" ]; then
    import -display ":$display" -window root "$work/shot.png"
    echo "screenshot: $work/shot.png"
    touch "$work/shot-taken"
  fi
  sleep 0.2
done
wait "$driven"
