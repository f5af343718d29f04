#!/bin/bash
# Runs Q8RPatcher.exe under Wine on its own Xvfb display, in a Wine virtual
# desktop (which draws title bars as Windows does), beside patcher_driver.exe,
# which records every window and box and dismisses the boxes.
#
# Usage: patcher_wine_e2e.sh SOURCE_DIR BUILD_DIR PATCHER_EXE DRIVER_EXE [PATCH_TOOL_EXE [FILE_HOLDER_EXE]]
# Leaves the logs and a screenshot in BUILD_DIR/e2e-wine/.
set -u
src=$1 build=$2 patcher=$3 driver=$4 tool=${5:-} holder=${6:-}
. "$src/tests/e2e/e2e_lib.sh"

out=$build/e2e-wine
rm -rf "$out"
mkdir -p "$out"
scratch=$(mktemp -d)
# Its own prefix: a wineserver the unit tests started without a display
# could not give the patcher a window.
export WINEPREFIX=$build/wineprefix-e2e
wine_run() { "$src/scripts/wine-run" "$WINEPREFIX" "$@"; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# Xvfb picks a free display itself and writes its number.
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$out/display" >"$out/xvfb.log" 2>&1 &
xvfb=$!
display=
for _ in $(seq 1200); do
    display=$(cat "$out/display" 2>/dev/null)
    [ -n "$display" ] && break
    kill -0 "$xvfb" 2>/dev/null || { xvfb=; break; }
    sleep 0.1
done
cleanup() {
    WINEPREFIX=$WINEPREFIX wineserver -k >/dev/null 2>&1
    if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; fi
    rm -rf "$scratch"
}
trap cleanup EXIT
[ -n "$display" ] || { echo "no X display could be started"; exit 1; }
export DISPLAY=:$display

# drive NAME GAME [driver options]: runs the patcher in GAME; the log is
# $out/NAME.log and the value of a key is `value NAME key`.
drive() {
    local name=$1 game=$2; shift 2
    timeout 600 "$src/scripts/wine-run" "$WINEPREFIX" explorer /desktop=q8r,1024x768 \
        "$(winpath "$driver")" "$(winpath "$out/$name.log")" "$(winpath "$patcher")" "$(winpath "$game")" "$@" \
        >"$out/$name.wine.log" 2>&1
    [ -f "$out/$name.log" ] || echo "missing log for $name" >"$out/$name.log"
}
value() { grep -m1 "^$2=" "$out/$1.log" | cut -d= -f2-; }

# drive_as_player NAME GAME [driver options]: as `drive`, on a player's
# account. Wine keeps the read-only attribute as the file's write permission,
# which root passes over; as root the run goes to the unprivileged "nobody",
# in a prefix and a copy of GAME of its own, and GAME then takes its result.
drive_as_player() {
    local name=$1 game=$2; shift 2
    if [ "$(id -u)" != 0 ]; then drive "$name" "$game" "$@"; return; fi
    local home=$build/wine-player
    local as_player=(setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$home")
    mkdir -p "$home"
    rm -rf "$home/game" "$home/$name.log"
    cp -a "$game" "$home/game"
    chown -R 65534:65534 "$home"
    timeout 600 "${as_player[@]}" DISPLAY="$DISPLAY" "$src/scripts/wine-run" "$home/prefix" explorer /desktop=q8r,1024x768 \
        "$(winpath "$driver")" "$(winpath "$home/$name.log")" "$(winpath "$patcher")" "$(winpath "$home/game")" "$@" \
        >"$out/$name.wine.log" 2>&1
    "${as_player[@]}" WINEPREFIX="$home/prefix" wineserver -k >/dev/null 2>&1
    cp "$home/$name.log" "$out/$name.log" 2>/dev/null || echo "missing log for $name" >"$out/$name.log"
    rm -rf "$game"
    cp -a "$home/game" "$game"
}

# The texts as the log writes them: line breaks as \n.
video_box() { printf '%s\\n\\nFile: %s' "$1" "$2"; }

wine_run cmd /c ver >/dev/null 2>&1  # builds the prefix on first use

scenario_window_and_missing_patch_data() {
    echo "== the window, and four boxes when no patch data exists"
    local game=$scratch/window/game
    "$src/tests/e2e/make_game_folder.sh" "$game"
    mkdir -p "$scratch/window/pause"
    (
        for _ in $(seq 6000); do [ -e "$scratch/window/pause/box.ready" ] && break; sleep 0.1; done
        sleep 0.5  # the box paints itself
        import -display ":$display" -window root "$out/patcher-window.png" 2>"$out/import.log"
        : >"$scratch/window/pause/box.go"
    ) &
    local shooter=$!
    drive window "$game" --pause-at-box "$(winpath "$scratch/window/pause")"
    wait "$shooter"
    check "title" "Q8R: Patch Update Tool v1.0" "$(value window window.title)"
    check "screen of the virtual desktop" "1024,768" "$(value window screen)"
    check "centred, outer size 400 x 120" "312,324,400,120" "$(value window window.rect)"
    local style=$(value window window.style)
    check "a title bar and border, no system menu, boxes or sizing frame" \
        "0x00C00000" "$(printf '0x%08X' $((style & 0x00CF0000)))"
    check "no system menu" 0 "$(value window window.sysmenu)"
    local background=$(value window window.background)
    check "background painted in the scroll-bar colour" "${background#* scroll-bar=}" "${background%% *}"
    check "intro label" "Static id=0 style=0x50000000 rect=5,5,385,40" \
        "$(value window child0.class)"
    check "intro text" 'Updating Q8R v1.0 structure to the new v1.1 structure.\nThis is a one time operation and will take a few minutes.' \
        "$(value window child0.text)"
    check "status line" "Static id=0 style=0x50000000 rect=10,60,360,20" "$(value window child1.class)"
    check "four boxes" 4 "$(value window boxes)"
    local i=1 video
    for video in CS18.avi CS27.avi CS29.avi CS30.avi; do
        check "box $i caption" "Video Patch Error" "$(value window box$i.caption)"
        check "box $i text" "$(video_box "Can't Open Data File" $video)" "$(value window box$i.text)"
        check "box $i owned by the patcher window" patcher "$(value window box$i.owner)"
        check "box $i without icon, OK only" "0 OK" "$(value window box$i.icon) $(value window box$i.buttons)"
        i=$((i + 1))
    done
    check "the status line still shows the sound step" "Current Operation: Moving sound files..." \
        "$(value window box1.status)"
    check "exit code" 0 "$(value window exit)"
    check_true "screenshot kept" '[ -s "$out/patcher-window.png" ]'
}

scenario_full_migration() {
    echo "== a v1.0 folder is migrated, its four videos patched"
    local game=$scratch/full/game
    if [ -n "$tool" ]; then
        "$src/tests/e2e/make_game_folder.sh" "$game" \
            "$src/scripts/wine-run $WINEPREFIX $tool" "$scratch/full/corrected" >/dev/null 2>"$out/tool.log"
    else
        "$src/tests/e2e/make_game_folder.sh" "$game"
        install_worked_example "$game"
        mkdir -p "$scratch/full/corrected"
        for video in CS18 CS27 CS29 CS30; do printf 'abcdXYZefgh' >"$scratch/full/corrected/$video.avi"; done
    fi
    cp -a "$game" "$scratch/full/before"
    drive full "$game"
    check "normal run ends with 0" 0 "$(value full exit)"
    check "no box" 0 "$(value full boxes)"
    expected_migrated_tree "$scratch/full/before" "$scratch/full/expected"
    for video in CS18 CS27 CS29 CS30; do
        cp "$scratch/full/corrected/$video.avi" "$scratch/full/expected/q8r/movies/$video.avi"
        rm "$scratch/full/expected/q8r/movies/$video.avi.upd"
    done
    check "tree and bytes after the run" "$(tree_of "$scratch/full/expected")" "$(tree_of "$game")"

    echo "== a second run repeats every step"
    cp -a "$game" "$scratch/full/after-first"
    drive again "$game"
    check "four boxes: the patch data is gone" \
        "$(video_box "Can't Open Data File" CS18.avi) $(video_box "Can't Open Data File" CS27.avi) $(video_box "Can't Open Data File" CS29.avi) $(video_box "Can't Open Data File" CS30.avi)" \
        "$(value again box1.text) $(value again box2.text) $(value again box3.text) $(value again box4.text)"
    check "exit code" 0 "$(value again exit)"
    check "the folder stays as the first run left it" "$(tree_of "$scratch/full/after-first")" "$(tree_of "$game")"
}

scenario_failing_video() {
    echo "== a failing video does not stop the later ones"
    local game=$scratch/failing/game
    "$src/tests/e2e/make_game_folder.sh" "$game"
    install_worked_example "$game"
    worked_example_patch bad >"$game/q8r/movies/CS27.avi.upd"
    drive failing "$game"
    check "one box" 1 "$(value failing boxes)"
    check "for CS27.avi" "$(video_box "Incorrect Data File" CS27.avi)" "$(value failing box1.text)"
    check "the status line names CS18 last" "Current Operation: Patching cutscene CS18.avi... 75%" \
        "$(value failing box1.status)"
    check "the others patched, CS27 unchanged, no side files" \
        "$(printf '%s\n' "CS18.avi abcdXYZefgh" "CS27.avi abcdefgh" "CS29.avi abcdXYZefgh" "CS30.avi abcdXYZefgh")" \
        "$(cd "$game/q8r/movies" && for f in *; do echo "$f $(cat "$f")"; done)"
    check "exit code" 0 "$(value failing exit)"
}

scenario_darkinst_write_failure() {
    echo "== the mod Darkinst.cfg cannot be written: its box, then exit code 1"
    # The rewrite goes through a temporary file beside the target; a folder
    # of that name makes the open for writing fail honestly, even as root.
    local game=$scratch/writefail/game
    "$src/tests/e2e/make_game_folder.sh" "$game"
    mkdir -p "$game/q8r/Darkinst.cfg.q8r-tmp"
    drive writefail "$game"
    check "one box" 1 "$(value writefail boxes)"
    check "caption" "Error" "$(value writefail box1.caption)"
    check "text" 'The file "\\q8r\\Darkinst.cfg"\n could not be opened for writing.\n\nQ8R needs to alter this file in order to play.' \
        "$(value writefail box1.text)"
    check "error icon, OK only, owned by the patcher" "1 OK patcher" \
        "$(value writefail box1.icon) $(value writefail box1.buttons) $(value writefail box1.owner)"
    check "exit code" 1 "$(value writefail exit)"
    check_true "later steps did not run" '[ -e "$game/q8r/books/english/note1.str" ]'

    echo "== the game root's Darkinst.cfg cannot be written: its box, then exit code 1"
    game=$scratch/writefail/root
    "$src/tests/e2e/make_game_folder.sh" "$game"
    mkdir -p "$game/Darkinst.cfg.q8r-tmp"
    cp "$game/Darkinst.cfg" "$scratch/writefail/root-darkinst"
    drive writefail-root "$game"
    check "one box" 1 "$(value writefail-root boxes)"
    check "text" 'The file "Darkinst.cfg"\n could not be opened for writing.\n\nQ8R needs to alter this file in order to play.' \
        "$(value writefail-root box1.text)"
    check "caption, error icon, owner" "Error 1 patcher" \
        "$(value writefail-root box1.caption) $(value writefail-root box1.icon) $(value writefail-root box1.owner)"
    check "the status line shows the reset step" "Current Operation: Resetting default darkinst.cfg file..." \
        "$(value writefail-root box1.status)"
    check "exit code" 1 "$(value writefail-root exit)"
    check_true "the file keeps its content" 'cmp -s "$scratch/writefail/root-darkinst" "$game/Darkinst.cfg"'

    echo "== a read-only game root Darkinst.cfg: its box, then exit code 1"
    game=$scratch/writefail/readonly
    "$src/tests/e2e/make_game_folder.sh" "$game"
    drive_as_player writefail-readonly "$game" --read-only Darkinst.cfg
    check "text" 'The file "Darkinst.cfg"\n could not be opened for writing.\n\nQ8R needs to alter this file in order to play.' \
        "$(value writefail-readonly box1.text)"
    check "exit code" 1 "$(value writefail-readonly exit)"
    check_true "later steps did not run" '[ -e "$game/q8r/books/english/note1.str" ]'
}

scenario_half_done_first_run() {
    echo "== a second run after a first one cut off during the moves"
    # Books, strings and voice sets hold several files and no folder; the
    # targets hold stale same-named files, and zaya's sub-folder waits
    # half-moved with a file of its own.
    local game=$scratch/half/game voice
    "$src/tests/e2e/make_game_folder.sh" "$game"
    install_worked_example "$game"
    rm "$game/q8r.exe"
    mv "$game/q8r/books/english/intro" "$game/q8r/books/"
    printf 'stale\n' >"$game/q8r/books/note1.str"
    printf 'stale\n' >"$game/q8r/strings/goals.str"
    for voice in "$game"/q8r/snd/*; do printf 'stale\n' >"$voice/$(basename "$voice")_hello.wav"; done
    mkdir -p "$game/q8r/snd/zaya/extra"
    printf 'stale\n' >"$game/q8r/snd/zaya/extra/zaya_laugh.wav"
    printf 'RIFF zaya sigh WAVE\n' >"$game/q8r/snd/zaya/extra/zaya_sigh.wav"
    printf 'stale\n' >"$game/q8r/cam.cfg"
    expected_migrated_tree "$game" "$scratch/half/expected"
    for video in CS18 CS27 CS29 CS30; do
        printf 'abcdXYZefgh' >"$scratch/half/expected/q8r/movies/$video.avi"
        rm "$scratch/half/expected/q8r/movies/$video.avi.upd"
    done
    drive half "$game"
    check "exit code" 0 "$(value half exit)"
    check "no box" 0 "$(value half boxes)"
    check "files replaced, folders merged, english folders empty" \
        "$(tree_of "$scratch/half/expected")" "$(tree_of "$game")"
}

scenario_folder_name_outside_the_code_page() {
    echo "== a game folder named in Cyrillic letters, which the code page cannot spell"
    local game=$scratch/cyrillic/Вор\ 2
    "$src/tests/e2e/make_game_folder.sh" "$game"
    install_worked_example "$game"
    expected_migrated_tree "$game" "$scratch/cyrillic/expected"
    for video in CS18 CS27 CS29 CS30; do
        printf 'abcdXYZefgh' >"$scratch/cyrillic/expected/q8r/movies/$video.avi"
        rm "$scratch/cyrillic/expected/q8r/movies/$video.avi.upd"
    done
    drive cyrillic "$game"
    check "exit code" 0 "$(value cyrillic exit)"
    check "no box" 0 "$(value cyrillic boxes)"
    check "migrated as any other folder" "$(tree_of "$scratch/cyrillic/expected")" "$(tree_of "$game")"
}

# The expected tree of a migrated folder whose videos were patched.
expected_patched_tree() {
    local video
    expected_migrated_tree "$1" "$2"
    for video in CS18 CS27 CS29 CS30; do
        printf 'abcdXYZefgh' >"$2/q8r/movies/$video.avi"
        rm "$2/q8r/movies/$video.avi.upd"
    done
}

scenario_items_the_shell_gets_wrong() {
    echo "== a file meeting a folder, links among the voices, a name outside the code page"
    # Each is refused or done by the patcher itself, never by the shell: the
    # file and the folder both stay, what a link names outside the game is
    # untouched, and the Cyrillic voice line is moved.
    local game=$scratch/hostile/game outside=$scratch/hostile/outside
    "$src/tests/e2e/make_game_folder.sh" "$game"
    install_worked_example "$game"
    mkdir -p "$outside/voices" "$outside/lone"
    printf 'RIFF outside a\n' >"$outside/voices/a.wav"
    printf 'RIFF outside lone\n' >"$outside/lone/c.wav"
    printf 'RIFF outside linked\n' >"$outside/linked.wav"
    local snd=$game/q8r/snd
    mkdir -p "$snd/cop2/extra"
    printf 'RIFF cop2 b\n' >"$snd/cop2/extra/b.wav"
    printf 'RIFF cop3 beetle\n' >"$snd/cop3/english/Жук.wav"
    expected_patched_tree "$game" "$scratch/hostile/expected"
    local tree
    for tree in "$game" "$scratch/hostile/expected"; do
        printf "the player's extra\n" >"$tree/q8r/snd/cop1/extra"
        mkdir -p "$tree/q8r/snd/cop1/english/extra"
        printf 'RIFF cop1 extra\n' >"$tree/q8r/snd/cop1/english/extra/cop1_x.wav"
        ln -s "$outside/voices" "$tree/q8r/snd/cop2/english/extra"
    done
    ln -s "$outside/linked.wav" "$snd/guard1/english/linked.wav"
    ln -s "$outside/lone" "$snd/guard2/english/lone"
    local outside_before=$(tree_of "$outside")
    drive hostile "$game"
    # The file and the folder that met stay, and the run says so after its end.
    check "exit code: items left behind" 2 "$(value hostile exit)"
    check "one box, naming what stayed" "1 Files Left Behind" "$(value hostile boxes) $(value hostile box1.caption)"
    check_true "the box names the folder that met a file" \
        "value hostile box1.text | grep -qF 'q8r\\\\snd\\\\cop1\\\\english\\\\extra (a file of that name is in the way)'"
    check "nothing outside the game changed" "$outside_before" "$(tree_of "$outside")"
    # Windows and the native build move a lone link as the link; Wine cannot
    # move a link itself, and the patcher then leaves it where it is.
    local link
    for link in guard1/english/linked.wav guard2/english/lone; do
        check_true "$link stays a link, in english or one up" \
            "[ -L '$snd/$link' ] || [ -L '$snd/${link/english\//}' ]"
        rm -f "$snd/$link" "$snd/${link/english\//}"
    done
    check "refused, kept and moved as the native build does" "$(tree_of "$scratch/hostile/expected")" "$(tree_of "$game")"
}

scenario_long_game_folder() {
    echo "== a game folder of 230 characters: items past 259 characters are moved"
    # "Z:" and the Unix name.
    local game=$scratch/long/thief2-
    game=$game$(printf '%*s' $((228 - ${#game})) '' | tr ' ' x)
    "$src/tests/e2e/make_game_folder.sh" "$game"
    install_worked_example "$game"
    expected_patched_tree "$game" "$scratch/long/expected"
    # A source past 258 characters is never acted on: the voice sets named
    # in ten letters or more stay, as natively.
    local voice
    for voice in femalemech femalenoble femalenoble2 femaleservant maleservant; do
        rm -rf "$scratch/long/expected/q8r/snd/$voice"
        cp -a "$game/q8r/snd/$voice" "$scratch/long/expected/q8r/snd/"
    done
    drive long "$game"
    check "the folder's Windows name is 230 characters" 230 "$(winpath "$game" | wc -m | tr -d ' ')"
    check "exit code" 0 "$(value long exit)"
    check "no box" 0 "$(value long boxes)"
    check "migrated as any other folder" "$(tree_of "$scratch/long/expected")" "$(tree_of "$game")"
}

scenario_read_only_items() {
    echo "== read-only items the run deletes: the old launcher, an earlier mod Darkinst.cfg, a backup"
    local game=$scratch/readonly-items/game
    "$src/tests/e2e/make_game_folder.sh" "$game"
    install_worked_example "$game"
    expected_patched_tree "$game" "$scratch/readonly-items/expected"
    printf 'an earlier run\n' >"$game/q8r/Darkinst.cfg"
    printf 'an earlier backup\n' >"$game/q8r/movies/CS18.avi.old"
    drive_as_player readonly-items "$game" --read-only q8r.exe --read-only 'q8r\Darkinst.cfg' \
        --read-only 'q8r\movies\CS18.avi.old' --read-only 'q8r\movies\CS27.avi.upd'
    check "exit code" 0 "$(value readonly-items exit)"
    check "no box" 0 "$(value readonly-items boxes)"
    check "removed for good, as natively" "$(tree_of "$scratch/readonly-items/expected")" "$(tree_of "$game")"
}

scenario_held_files() {
    local hold=$1
    echo "== another program holds every new file for $((hold / 1000)) s, as a virus scanner does"
    local game=$scratch/held-$hold/game stop=$scratch/held-$hold/stop
    "$src/tests/e2e/make_game_folder.sh" "$game"
    install_worked_example "$game"
    expected_patched_tree "$game" "$scratch/held-$hold/expected"
    wine_run "$holder" --watch "$(winpath "$game")" "$hold" "$(winpath "$stop")" >"$out/held-$hold.holder.log" 2>&1 &
    local watcher=$!
    for _ in $(seq 600); do grep -q watching "$out/held-$hold.holder.log" 2>/dev/null && break; sleep 0.1; done
    drive held-$hold "$game"
    : >"$stop"
    wait "$watcher"
    check "the holder watched" watching "$(head -1 "$out/held-$hold.holder.log" | tr -d "\r")"
    check "exit code" 0 "$(value held-$hold exit)"
    check "no box" 0 "$(value held-$hold boxes)"
    check "the same tree as without the holder" "$(tree_of "$scratch/held-$hold/expected")" "$(tree_of "$game")"
}

scenario_second_start() {
    echo "== a second start while the first waits at a box"
    local game=$scratch/second/game
    "$src/tests/e2e/make_game_folder.sh" "$game"
    drive second "$game" --second-start
    check "second start returns -1" -1 "$(value second second.exit)"
    check "second start shows nothing" 0 "$(value second second.window)"
    check "the first still runs" 1 "$(value second first.running)"
    check "the first goes on to its end" "4 0" "$(value second boxes) $(value second exit)"
}

scenario_window_and_missing_patch_data
scenario_full_migration
scenario_failing_video
scenario_darkinst_write_failure
scenario_half_done_first_run
scenario_folder_name_outside_the_code_page
scenario_items_the_shell_gets_wrong
scenario_long_game_folder
scenario_read_only_items
scenario_second_start
if [ -x "$holder" ]; then
    scenario_held_files 5000
    scenario_held_files 20000
fi
e2e_summary
