#!/bin/bash
# Makes the README's screenshots from the real Windows programs under Wine
# and Xvfb (the patcher with openbox during the videos, the launcher
# window) and puts them in docs/screenshots/.
# Usage: scripts/screenshots.sh   (after scripts/install-deps.sh --windows
#                                  and cmake --preset win64)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
cmake --build --preset win64 --target Q8RPatcher Q8RLauncher patcher_driver launcher_driver \
    launcher_stand_in_game q8r-avipatch q8r_tests
(cd "$root" && ctest --preset win64 -R '^(PatcherWindowStaysAlive.Wine|launcher_window_under_wine)$' --output-on-failure)
mkdir -p "$root/docs/screenshots"
cp "$build/tests/desktop/alive/patcher-videos.png" "$root/docs/screenshots/patcher-wine.png"
# The launcher's shot is the whole screen, black around the window.
convert "$build/tests/wine/launcher-window/shot.png" -trim +repage "$root/docs/screenshots/launcher-wine.png"
ls -l "$root/docs/screenshots"
