#!/bin/bash
# Runs the POSIX build of Q8RPatcher in scratch game folders, as a player
# would start it, with standard input not a terminal: statuses on standard
# output, boxes on standard error, the exit codes and the folder afterwards.
#
# Usage: posix_patcher_e2e.sh PATCHER [PATCH_TOOL]
#   PATCH_TOOL: the patch data maker (PATCH_TOOL make ORIGINAL CORRECTED
#   PATCH); without it the full migration checks everything but the videos.
set -u
patcher=$1
tool=${2:-}
. "$(dirname "$0")/e2e_lib.sh"
run_isolated "$0" "$@"

scratch=$(mktemp -d)
# A background child killed before it execs would run this too and
# take the scratch folder from under the script.
trap '[ "$BASHPID" = "$$" ] && { rm -rf "$scratch"; }' EXIT
export TMPDIR=$scratch

statuses_before_cutscenes=(
    "Current Operation: Removing old Q8R launcher..."
    "Current Operation: Resetting default darkinst.cfg file..."
    "Current Operation: Moving config files..."
    "Current Operation: Editing DarkInst.cfg..."
    "Current Operation: Moving book files..."
    "Current Operation: Moving string files..."
    "Current Operation: Moving sound files..."
)


lines() { printf '%s\n' "$@"; }

# script(1) gives a program a terminal where the system has pseudo-terminals.
have_terminal() { command -v script >/dev/null && script -qec true /dev/null </dev/null >/dev/null 2>&1; }

scenario_full_migration() {
    echo "== a v1.0 folder is migrated"
    local game=$scratch/full/game
    if [ -n "$tool" ]; then
        "$e2e_here/make_game_folder.sh" "$game" "$tool" "$scratch/full/corrected" >/dev/null
    else
        # Without the tool, the worked example stands in for each video.
        "$e2e_here/make_game_folder.sh" "$game"
        install_worked_example "$game"
        mkdir -p "$scratch/full/corrected"
        for video in CS18 CS27 CS29 CS30; do printf 'abcdXYZefgh' >"$scratch/full/corrected/$video.avi"; done
    fi
    cp -a "$game" "$scratch/full/before"
    run_patcher "$game"
    check "normal run ends with 0" 0 "$code"
    check "the window's intro lines come first" yes "$intro"

    expected_migrated_tree "$scratch/full/before" "$scratch/full/expected"
    local video
    for video in CS18 CS27 CS29 CS30; do
        cp "$scratch/full/corrected/$video.avi" "$scratch/full/expected/q8r/movies/$video.avi"
        rm "$scratch/full/expected/q8r/movies/$video.avi.upd"
    done
    check "no box on a complete folder" "" "$err"
    check "tree and bytes after the run" "$(tree_of "$scratch/full/expected")" "$(tree_of "$game")"
    check "mod Darkinst.cfg bytes" "$(expected_mod_darkinst | od -An -tx1 -v)" "$(od -An -tx1 -v "$game/q8r/Darkinst.cfg")"
    check "game root Darkinst.cfg bytes" "$(expected_root_darkinst | od -An -tx1 -v)" "$(od -An -tx1 -v "$game/Darkinst.cfg")"

    local statuses progress
    statuses=$(grep -v '^Current Operation: Patching cutscene ' <<<"$out")
    check "status texts in order, one line each" "$(lines "${statuses_before_cutscenes[@]}" "Task Finished.")" "$statuses"
    progress=$(grep -o 'CS[0-9]*\.avi' <<<"$(grep '^Current Operation: Patching cutscene ' <<<"$out")" | uniq)
    check "progress names the four videos in order" "$(lines CS18.avi CS27.avi CS29.avi CS30.avi)" "$progress"
    check_true "progress ends with the last status before Task Finished" \
        '[ "$(tail -n 2 <<<"$out" | head -n 1 | grep -c "^Current Operation: Patching cutscene CS30.avi... [0-9]*%$")" = 1 ]'

    echo "== a second run repeats every step"
    cp -a "$game" "$scratch/full/after-first"
    run_patcher "$game"
    check "second run ends with 0" 0 "$code"
    check "second run: four boxes, the patch data is gone" \
        "$(box "Can't Open Data File" CS18.avi; echo; box "Can't Open Data File" CS27.avi; echo
           box "Can't Open Data File" CS29.avi; echo; box "Can't Open Data File" CS30.avi)" "$err"
    check "second run changes nothing" "$(tree_of "$scratch/full/after-first")" "$(tree_of "$game")"
}

scenario_no_patch_data() {
    echo "== no patch data files"
    local game=$scratch/nodata/game
    "$e2e_here/make_game_folder.sh" "$game"
    cp -a "$game/q8r/movies" "$scratch/nodata/movies-before"
    run_patcher "$game"
    check "exit code" 0 "$code"
    check "four boxes in order on stderr" \
        "$(box "Can't Open Data File" CS18.avi; echo; box "Can't Open Data File" CS27.avi; echo
           box "Can't Open Data File" CS29.avi; echo; box "Can't Open Data File" CS30.avi)" "$err"
    check "no video changed" "$(tree_of "$scratch/nodata/movies-before")" "$(tree_of "$game/q8r/movies")"
    check "status stays at the sound step until the end" \
        "$(lines "${statuses_before_cutscenes[@]}" "Task Finished.")" "$out"
}

scenario_failing_video() {
    echo "== a failing video does not stop the later ones"
    local game=$scratch/failing/game
    "$e2e_here/make_game_folder.sh" "$game"
    install_worked_example "$game"
    worked_example_patch bad >"$game/q8r/movies/CS27.avi.upd"
    run_patcher "$game"
    check "exit code" 0 "$code"
    check "one box, for CS27.avi" "$(box "Incorrect Data File" CS27.avi)" "$err"
    check "the others patched, CS27 unchanged, no side files" \
        "$(printf '%s\n' "CS18.avi abcdXYZefgh" "CS27.avi abcdefgh" "CS29.avi abcdXYZefgh" "CS30.avi abcdXYZefgh")" \
        "$(cd "$game/q8r/movies" && for f in *; do echo "$f $(cat "$f")"; done)"
    # CS27's table is refused before any segment, so it reports nothing.
    local expected=() video
    for video in CS18 CS29 CS30; do
        expected+=("Current Operation: Patching cutscene $video.avi... 12%"
                   "Current Operation: Patching cutscene $video.avi... 37%"
                   "Current Operation: Patching cutscene $video.avi... 75%")
    done
    check "progress of each patched video" \
        "$(lines "${statuses_before_cutscenes[@]}" "${expected[@]}" "Task Finished.")" "$out"
}

scenario_darkinst_write_failures() {
    echo "== a Darkinst.cfg that cannot be written ends the program with 1"
    # The rewrite goes through a temporary file beside the target; a folder
    # of that name makes the open for writing fail even for root.
    local game=$scratch/writefail/mod
    "$e2e_here/make_game_folder.sh" "$game"
    mkdir -p "$game/q8r/Darkinst.cfg.q8r-tmp"
    run_patcher "$game"
    check "mod Darkinst.cfg: exit code" 1 "$code"
    check "mod Darkinst.cfg: the error box" \
        "$(printf '[Error]\nThe file "\\q8r\\Darkinst.cfg"\n could not be opened for writing.\n\nQ8R needs to alter this file in order to play.')" "$err"
    check "mod Darkinst.cfg: nothing after the step" \
        "$(lines "${statuses_before_cutscenes[@]:0:4}")" "$out"
    check_true "mod Darkinst.cfg: the books were not moved" '[ -e "$game/q8r/books/english/note1.str" ]'
    check_true "mod Darkinst.cfg: holds the unedited copy" 'cmp -s "$game/install.cfg" "$game/q8r/Darkinst.cfg"'

    game=$scratch/writefail/root
    "$e2e_here/make_game_folder.sh" "$game"
    mkdir -p "$game/Darkinst.cfg.q8r-tmp"
    cp "$game/Darkinst.cfg" "$scratch/writefail/root-darkinst"
    run_patcher "$game"
    check "game root Darkinst.cfg: exit code" 1 "$code"
    check "game root Darkinst.cfg: the error box" \
        "$(printf '[Error]\nThe file "Darkinst.cfg"\n could not be opened for writing.\n\nQ8R needs to alter this file in order to play.')" "$err"
    check "game root Darkinst.cfg: nothing after the step" "$(lines "${statuses_before_cutscenes[@]:0:2}")" "$out"
    check_true "game root Darkinst.cfg: keeps its content" 'cmp -s "$scratch/writefail/root-darkinst" "$game/Darkinst.cfg"'
    check_true "game root Darkinst.cfg: no configuration copied" '[ ! -e "$game/q8r/cam.cfg" ]'
}

scenario_single_instance() {
    echo "== a second start while one holds the guard"
    local game=$scratch/guard/game
    "$e2e_here/make_game_folder.sh" "$game"
    mkdir -p "$scratch/guard/holder"
    cp -a "$game" "$scratch/guard/before"
    # A patcher in a folder of its own holds the guard, waiting at its first
    # status line until it is let go.
    open_full_pipe
    (cd "$scratch/guard/holder" && exec "$patcher" </dev/null >&5 2>/dev/null) &
    local holder=$!
    wait_for_guard Q8RPatcher
    run_patcher "$game"
    check "returns -1" 255 "$code"
    check "shows nothing" "" "$out$err"
    check "changes nothing" "$(tree_of "$scratch/guard/before")" "$(tree_of "$game")"
    drain_pipe "$holder"
    run_patcher "$game"
    check "a start after the holder ended runs" 0 "$code"
    check_true "and does its work" '[ ! -e "$game/q8r.exe" ]'
}

scenario_second_start_beside_a_waiting_patcher() {
    echo "== a second start while the first patcher waits at a box"
    if ! have_terminal; then skip "no terminal to be had through script(1)"; return; fi
    local game=$scratch/beside/game
    "$e2e_here/make_game_folder.sh" "$game"
    mkfifo "$scratch/beside/keys"
    exec 9<>"$scratch/beside/keys"
    (cd "$game" && timeout 600 script -qec "$patcher" /dev/null <"$scratch/beside/keys" >"$scratch/beside/first" 2>&1) &
    local first=$! tries=0
    while ! grep -q 'Press Enter' "$scratch/beside/first" 2>/dev/null && [ $tries -lt 3000 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    check_true "the first waits at its first box" 'grep -q "Press Enter" "$scratch/beside/first"'
    (cd "$game" && "$patcher" </dev/null >"$scratch/beside/second-out" 2>"$scratch/beside/second-err")
    check "the second returns -1" 255 "$?"
    check "the second shows nothing" "" "$(cat "$scratch/beside/second-out" "$scratch/beside/second-err")"
    printf '\n\n\n\n' >&9
    wait "$first"
    check "the first goes on to its end" 0 "$?"
    check_true "after four boxes" '[ "$(grep -c "Press Enter" "$scratch/beside/first")" = 4 ] && grep -q "Task Finished." "$scratch/beside/first"'
    exec 9>&-
}

scenario_terminal() {
    echo "== on a terminal the status line is rewritten in place"
    if ! have_terminal; then skip "no terminal to be had through script(1)"; return; fi
    local game=$scratch/tty/game
    "$e2e_here/make_game_folder.sh" "$game"
    install_worked_example "$game"
    (cd "$game" && script -qec "$patcher" /dev/null </dev/null >"$scratch/tty-out" 2>&1)
    check_true "statuses rewritten with a carriage return" \
        'grep -q $'"'"'\rCurrent Operation: Moving book files...\e\[K\rCurrent Operation: Moving string files...'"'"' "$scratch/tty-out"'
}

scenario_boxes_wait_only_for_a_terminal() {
    echo "== a box waits for Enter only when standard input is a terminal"
    local game=$scratch/wait/pipe
    "$e2e_here/make_game_folder.sh" "$game"
    # A pipe that stays open and silent: a box that read from it would hang.
    mkfifo "$scratch/silent"
    exec 8<>"$scratch/silent"
    (cd "$game" && timeout 600 "$patcher" <"$scratch/silent" >"$scratch/wait-out" 2>"$scratch/wait-err")
    code=$?
    check "a silent pipe on standard input does not hold the boxes" 0 "$code"
    check "four boxes, no prompt" 4 "$(grep -c '^\[Video Patch Error\]$' "$scratch/wait-err")"
    check "no prompt" 0 "$(grep -c 'Press Enter' "$scratch/wait-err")"
    if ! have_terminal; then skip "no terminal to be had through script(1)"; return; fi
    game=$scratch/wait/tty
    "$e2e_here/make_game_folder.sh" "$game"
    (cd "$game" && printf '\n\n\n\n' | timeout 600 script -qec "$patcher" /dev/null >"$scratch/wait-tty" 2>&1)
    check "on a terminal each box asks for Enter" 4 "$(grep -o 'Press Enter to continue.' "$scratch/wait-tty" | wc -l)"
    check_true "and the run goes on to its end" 'grep -q "Task Finished." "$scratch/wait-tty"'
    game=$scratch/wait/tty-silent
    "$e2e_here/make_game_folder.sh" "$game"
    # Ended once its first prompt is seen (however slow the machine), and a
    # moment later, so a run that did not wait would have gone on.
    (cd "$game" && exec timeout 600 script -qec "$patcher" /dev/null <"$scratch/silent" >"$scratch/wait-silent" 2>&1) &
    local held=$! tries=0
    while ! grep -q 'Press Enter' "$scratch/wait-silent" 2>/dev/null && kill -0 "$held" 2>/dev/null && [ $tries -lt 3000 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    sleep 1
    kill "$held" 2>/dev/null
    wait "$held" 2>/dev/null
    exec 8>&-
    check "without Enter the first box holds the run" "1 0" \
        "$(grep -o 'Press Enter to continue.' "$scratch/wait-silent" | wc -l) $(grep -c 'Task Finished.' "$scratch/wait-silent")"
}

scenario_full_migration
scenario_no_patch_data
scenario_boxes_wait_only_for_a_terminal
scenario_failing_video
scenario_darkinst_write_failures
scenario_single_instance
scenario_second_start_beside_a_waiting_patcher
scenario_terminal
e2e_summary
