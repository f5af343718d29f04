#!/bin/bash
# The native programs started with no terminal on a desktop with a window
# manager and zenity: the patcher's texts follow the run in a window and its
# boxes come as windows; the launcher shows its two choices and starts the
# game. zenity is reached through a stand-in of ours that notes what it was
# asked to show, then runs the real one.
#   native_windows.sh SOURCE_DIR WORK PATCHER LAUNCHER
set -u
src=$1 work=$2 patcher=$3 launcher=$4
. "$src/tests/e2e/e2e_lib.sh"
. "$src/tests/desktop/desktop_lib.sh"
run_isolated "$0" "$@"

rm -rf "$work"
mkdir -p "$work/bin"
trap stop_desktop EXIT
zenity=$(command -v zenity) || { echo "FAILED: zenity is needed (scripts/install-deps.sh --windows)"; exit 1; }
start_desktop "$work" || exit 1

cat >"$work/bin/zenity" <<STAND_IN
#!/bin/bash
printf '%s\\n' "\$*" >>"$work/zenity.args"
[ "\$1" = --progress ] && exec "$zenity" "\$@" < <(tee -a "$work/zenity.status")
exec "$zenity" "\$@"
STAND_IN
# The game, started through "wine", notes that it was.
printf '#!/bin/sh\necho "$*" >"%s/game.started"\n' "$work" >"$work/bin/wine"
chmod +x "$work/bin/zenity" "$work/bin/wine"
export PATH=$work/bin:$PATH

# started_without_terminal FOLDER PROGRAM: as a file manager starts it.
started_without_terminal() { (cd "$1" && exec setsid "$2" </dev/null >"$work/out" 2>&1); }

echo "== the patcher, no patch data: four boxes"
game=$work/game
"$src/tests/e2e/make_game_folder.sh" "$game" >/dev/null
started_without_terminal "$game" "$patcher" &
run=$!
title="Q8R: Patch Update Tool v1.0"
if id=$(wait_for_window "$title"); then pass "the patcher's window is shown"; else fail "the patcher's window is shown"; fi
boxes=0
while kill -0 "$run" 2>/dev/null; do
    if box=$(wait_for_window "Video Patch Error" 20); then
        boxes=$((boxes + 1))
        [ "$boxes" = 1 ] && import -window root "$work/patcher-box.png"
        xdotool windowactivate --sync "$box" key Return 2>/dev/null || xdotool key --window "$box" Return
        for _ in $(seq 50); do xdotool search --name '^Video Patch Error$' >/dev/null 2>&1 || break; sleep 0.1; done
    fi
done
wait "$run"
check "a normal end" 0 $?
check "four boxes, shown as windows" 4 "$boxes"
check_true "the intro lines stand in the window" "grep -qF '#Updating Q8R v1.0 structure to the new v1.1 structure.\\nThis is a one time operation and will take a few minutes.\\n\\nCurrent Operation: Moving sound files...' '$work/zenity.status'"
check "the window's texts follow the run" "$step_statuses" "$(sed -n 's/^#.*\\n\\n//p' "$work/zenity.status" | grep -v '^Current Operation:$')"
check "each box's caption and text" 4 "$(grep -cxF -- "--info --no-markup --title Video Patch Error --text Can't Open Data File" "$work/zenity.args")"
check "nothing on the terminal road" "" "$(cat "$work/out")"
check_true "the window goes with the patcher" "! xdotool search --name '^$title\$' >/dev/null 2>&1"

echo "== the patcher with no dialog program: it runs in a terminal emulator"
if xterm=$(command -v xterm); then
    mkdir -p "$work/only-xterm"
    ln -s "$xterm" "$work/only-xterm/xterm"
    game=$work/game-in-terminal
    "$src/tests/e2e/make_game_folder.sh" "$game" >/dev/null
    PATH="$work/only-xterm" "$(command -v bash)" -c "cd '$game' && exec '$(command -v setsid)' '$patcher' </dev/null >'$work/out' 2>&1" &
    run=$!
    if id=$(xdotool search --sync --onlyvisible --class xterm 2>/dev/null | head -1) && [ -n "$id" ]; then
        pass "a terminal window is opened"
        # Its boxes wait for Enter, and so does its end, so the texts stay until read.
        for _ in 1 2 3 4 5; do sleep 1; xdotool windowactivate --sync "$id" key Return 2>/dev/null; done
    else
        fail "a terminal window is opened"
    fi
    for _ in $(seq 100); do kill -0 "$run" 2>/dev/null || break; sleep 0.1; done
    check_true "the run went through there" "[ ! -e '$game/q8r.exe' ] && [ -f '$game/q8r/Darkinst.cfg' ]"
    check_true "and the window closed once Enter was pressed" "! kill -0 $run 2>/dev/null"
else
    skip "no xterm (scripts/install-deps.sh installs it)"
fi

echo "== the launcher: its two choices, then the game"
mkdir -p "$work/games/Thief2/q8r"
printf 'install_path C:\\Games\\Thief2\r\n' >"$work/games/Thief2/Darkinst.cfg"
mkdir -p "$work/prefix/dosdevices/c:/Games/Thief2"
: >"$work/prefix/dosdevices/c:/Games/Thief2/thief2.exe"
WINEPREFIX=$work/prefix started_without_terminal "$work/games/Thief2" "$launcher" &
run=$!
if id=$(wait_for_window "Q8R: Gloamspire  v1.1"); then
    pass "the launcher's window is shown"
    import -window root "$work/launcher.png"
    xdotool windowactivate --sync "$id" key Down Return 2>/dev/null
else
    fail "the launcher's window is shown"
fi
wait "$run"
check "the launcher ends with 0" 0 $?
check_true "its choices are the window's buttons" "grep -qF 'Play Q8R Play Thief2' '$work/zenity.args'"
check_true "the game is started" "[ -s '$work/game.started' ]"
echo "== the launcher without wine: Proton of the Steam library"
mkdir -p "$work/only-zenity" "$work/home/.steam/steam/steamapps/common/Proton 9.0"
cp "$work/bin/zenity" "$work/only-zenity/"
printf '#!/bin/sh\necho "$* $STEAM_COMPAT_DATA_PATH" >"%s/proton.started"\n' "$work" \
    >"$work/home/.steam/steam/steamapps/common/Proton 9.0/proton"
chmod +x "$work/home/.steam/steam/steamapps/common/Proton 9.0/proton"
: >"$work/games/Thief2/thief2.exe"
printf 'install_path Z:%s\r\n' "$(printf '%s' "$work/games/Thief2" | tr / '\\')" >"$work/games/Thief2/Darkinst.cfg"
bash=$(command -v bash) setsid=$(command -v setsid)
choose_q8r() {
    if id=$(wait_for_window "Q8R: Gloamspire  v1.1"); then xdotool windowactivate --sync "$id" key Down Return 2>/dev/null; fi
}
env -u WINEPREFIX HOME="$work/home" PATH="$work/only-zenity" "$bash" -c \
    "cd '$work/games/Thief2' && exec '$setsid' '$launcher' </dev/null >'$work/out' 2>&1" &
run=$!
choose_q8r
wait "$run"
check "Proton runs the game, with a compat-data folder of ours" \
    "run $work/games/Thief2/thief2.exe $work/home/.local/share/q8r/proton" "$(cat "$work/proton.started" 2>/dev/null)"
check_true "that folder is made for it" "[ -d '$work/home/.local/share/q8r/proton' ]"

echo "== neither wine nor Proton: a window says so, and names the Steam Deck road"
env -u WINEPREFIX HOME="$work/no-steam" PATH="$work/only-zenity" "$bash" -c \
    "cd '$work/games/Thief2' && exec '$setsid' '$launcher' </dev/null >'$work/out' 2>&1" &
run=$!
choose_q8r
if box=$(wait_for_window "Q8R: Gloamspire  v1.1"); then
    import -window root "$work/launcher-no-wine.png"
    xdotool windowactivate --sync "$box" key Return 2>/dev/null
fi
wait "$run"
check_true "the box names the road" "grep -q '^--error --no-markup --title Q8R: Gloamspire  v1.1 --text .*non-Steam game' '$work/zenity.args'"
e2e_summary
