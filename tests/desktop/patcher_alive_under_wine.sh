#!/bin/bash
# The Windows patcher under Wine on a desktop with a window manager: the
# status line follows the run, the window answers its queue throughout, a
# close request during the run changes nothing, and "Task Finished." is seen
# before the window goes.
#   patcher_alive_under_wine.sh SOURCE_DIR WORK PATCHER_EXE DRIVER_EXE PATCH_TOOL_EXE
set -u
src=$1 work=$2 patcher=$3 driver=$4 tool=$5
. "$src/tests/e2e/e2e_lib.sh"
. "$src/tests/desktop/desktop_lib.sh"
run_isolated "$0" "$@"

rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/prefix
trap 'wineserver -k >/dev/null 2>&1; stop_desktop' EXIT
start_desktop "$work" || exit 1
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

game=$work/game
"$src/tests/e2e/make_game_folder.sh" "$game" "$src/scripts/wine-run $WINEPREFIX $tool" >/dev/null
# Voices enough that moving them is a step one can watch, and ping within.
for i in $(seq 3000); do printf 'voice %d' "$i" >"$game/q8r/snd/zaya/english/extra$i.wav"; done

"$src/scripts/wine-run" "$WINEPREFIX" cmd /c ver >/dev/null 2>&1
"$src/scripts/wine-run" "$WINEPREFIX" "$driver" "$(winpath "$work/run.log")" "$(winpath "$patcher")" \
    "$(winpath "$game")" --watch >"$work/wine.log" 2>&1 &
driven=$!
title="Q8R: Patch Update Tool v1.0"
if id=$(wait_for_window "$title" 600); then
    pass "the window is on the desktop, managed"
    check_true "the manager framed it" "xprop -id $id _NET_FRAME_EXTENTS | grep -q ' = '"
    # The window while the videos are patched, for the README.
    while kill -0 "$driven" 2>/dev/null; do
        if grep -q '^status=Current Operation: Patching cutscene' "$work/run.log" 2>/dev/null; then
            # A shot may fall between a percentage's erase and its text: of
            # a few, the largest file holds the most text.
            for shot in 1 2 3 4 5 6; do import -frame -window "$id" "$work/shot$shot.png" 2>/dev/null; sleep 0.1; done
            best=$(ls -S "$work"/shot*.png 2>/dev/null | head -1)
            [ -n "$best" ] && mv "$best" "$work/patcher-videos.png" && echo "screenshot: $work/patcher-videos.png"
            break
        fi
        sleep 0.05
    done
else
    fail "the window is on the desktop"
fi
wait "$driven"
log=$work/run.log
value() { grep -m1 "^$1=" "$log" | cut -d= -f2-; }
statuses=$(grep '^status=' "$log" | cut -d= -f2- | grep -v 'Patching cutscene')
# A step quicker than the watch's look goes unseen; what is seen keeps the
# table's order, and the voices' move, the long step, is seen.
order=$(printf '%s\n' "$statuses" | grep -v '^Current Operation:$' | uniq | while read -r seen; do
    grep -nxF -- "$seen" <<<"$step_statuses" | cut -d: -f1; done | tr '\n' ' ')
check "what is seen keeps the steps' order" "$(tr ' ' '\n' <<<"$order" | sed '/^$/d' | sort -n -u | tr '\n' ' ')" "$order"
check_true "\"Moving sound files...\" is seen" "grep -qxF 'status=Current Operation: Moving sound files...' '$log'"
check_true "\"Task Finished.\" is seen" "grep -qxF 'status=Task Finished.' '$log'"
# The four small videos go by in a moment; on a busy machine the watch may
# look in during only one of them.
check_true "a cutscene's percentage is seen" "grep -Eq '^status=Current Operation: Patching cutscene CS[0-9]+\.avi\.\.\. [0-9]+%' '$log'"
check_true "the window answered throughout the run" "[ \"$(value answered)\" -gt 5 ] && [ \"$(value unanswered)\" = 0 ]"
# Without reading its queue within the step the window answers there at most
# once, a ping left over from the step before, when the step's text is set.
check_true "the window answered while the voices moved ($(value answered.moving-sounds))" \
    "[ \"$(value answered.moving-sounds)\" -ge 2 ]"
check_true "\"Task Finished.\" stays on screen" "[ \"$(value finished.seen)\" -ge 2 ]"
check "the close request changed nothing: no box, a normal end" "0 0" "$(value boxes) $(value exit)"
e2e_summary
