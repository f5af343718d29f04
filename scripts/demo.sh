#!/bin/bash
# The main job on an embedded default: builds the native patcher and the
# patch tool, makes a Q8R v1.0 game folder of its own (with patch data for
# its four cutscene videos), runs the patcher in it and shows the folder
# before and after.
# Usage: scripts/demo.sh [DEMO_FOLDER]   (default build/demo)
set -eu
cd "$(dirname "$0")/.."
repo=$PWD
scripts/install-deps.sh

echo "== building"
cmake --preset native >/dev/null
cmake --build --preset native --target Q8RPatcher q8r-avipatch >/dev/null

demo=$(realpath -m "${1:-build/demo}")
game=$demo/Thief2
rm -rf "$demo"
mkdir -p "$demo"
tests/e2e/make_game_folder.sh "$game" "$repo/build/native/tools/q8r-avipatch" "$demo/corrected" >/dev/null

listing() { (cd "$game" && find . -mindepth 1 | LC_ALL=C sort | sed 's|^\./||'); }
listing >"$demo/before.txt"
cp "$game/Darkinst.cfg" "$demo/Darkinst.cfg.before"

echo "== the game folder before: $(wc -l <"$demo/before.txt") items"
sed 's/^/  /' "$demo/before.txt" | grep -v '/snd/[a-z0-9]*/english/' | head -40
echo "  ... and two sounds in each of the 23 q8r/snd/*/english folders"

echo
echo "== running Q8RPatcher in $game"
set +e
(cd "$game" && "$repo/build/native/patcher/Q8RPatcher" </dev/null >"$demo/status-lines.txt")
status=$?
set -e
# The status line as it went, with each video's percentages run together.
awk '/Patching cutscene/ { video = $5; if (video != shown) { if (shown != "") print "  ..." last; print "  " $0; shown = video } last = $0; next }
     { if (shown != "") { print "  ..." last; shown = "" } print "  " $0 }' "$demo/status-lines.txt"
echo "== exit code $status"

listing >"$demo/after.txt"
echo
echo "== what changed in the folder (- before, + after)"
diff "$demo/before.txt" "$demo/after.txt" | grep '^[<>]' | sed 's/^</  -/; s/^>/  +/' | grep -v '/snd/[a-z0-9]*/' || true
echo "  (plus each voice's sounds moved from q8r/snd/VOICE/english/ to q8r/snd/VOICE/)"

show_cfg() { sed 's/\r$/ [CR LF]/; s/\x1a/[end marker]/' "$1" | sed 's/^/  /'; echo; }
echo
echo "== Darkinst.cfg in the game folder, before"
show_cfg "$demo/Darkinst.cfg.before"
echo "== Darkinst.cfg in the game folder, after (the old mod entries are gone)"
show_cfg "$game/Darkinst.cfg"
echo "== q8r/Darkinst.cfg, made from the copied install.cfg"
show_cfg "$game/q8r/Darkinst.cfg"

echo
echo "== cutscene videos"
for video in CS18 CS27 CS29 CS30; do
    if cmp -s "$game/q8r/movies/$video.avi" "$demo/corrected/$video.avi"; then
        echo "  $video.avi: patched, byte for byte the corrected cut"
    else
        echo "  $video.avi: NOT patched"
    fi
done
echo
echo "The folders are left in $demo (before.txt, after.txt, Thief2/)."
