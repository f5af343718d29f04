# Helpers shared by the end-to-end scripts: checks that count, and the
# expected bytes of a migrated game folder. Source it; call e2e_summary last.

e2e_passed=0
e2e_failed=0
e2e_skipped=0
e2e_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

pass() { e2e_passed=$((e2e_passed + 1)); echo "ok: $1"; }
fail() { e2e_failed=$((e2e_failed + 1)); echo "FAILED: $1"; }
skip() { e2e_skipped=$((e2e_skipped + 1)); echo "skipped: $1"; }

# check NAME EXPECTED ACTUAL
check() {
    if [ "$2" == "$3" ]; then pass "$1"; else
        fail "$1"
        diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/    /' | head -40
    fi
}
check_true() { if eval "$2"; then pass "$1"; else fail "$1 ($2)"; fi; }

e2e_summary() {
    echo "$e2e_passed passed, $e2e_failed failed, $e2e_skipped skipped"
    [ "$e2e_failed" -eq 0 ]
}

# The programs' guards are seen machine-wide (sockets in the abstract
# namespace): a script reruns itself in a network namespace of its own, where
# those names live, so scripts running side by side, or a patcher the user
# runs, do not see each other. Call as: run_isolated "$0" "$@". Without the
# right to make a namespace the script runs as it is.
run_isolated() {
    [ -n "${Q8R_ISOLATED:-}" ] && return
    export Q8R_ISOLATED=1
    if unshare --net true 2>/dev/null; then exec unshare --net bash "$@"; fi
    echo "note: no network namespace to be had; other patchers on this machine may hold the guard"
}

# Waits until a program holds the guard $1.
wait_for_guard() {
    local try
    for try in $(seq 1200); do grep -q "@$1\$" /proc/net/unix && return; sleep 0.1; done
}

# Opens fd 5 on a new pipe that is already full: a program whose status lines
# go there waits at its first one, holding its guard. Uses $scratch.
open_full_pipe() {
    rm -f "$scratch/pipe"
    mkfifo "$scratch/pipe"
    exec 5<>"$scratch/pipe"
    dd if=/dev/zero of="$scratch/pipe" bs=4096 count=1024 oflag=nonblock status=none 2>/dev/null
}

# Lets the program $1 that writes into fd 5 go on; returns its exit code
# once it has ended.
drain_pipe() {
    cat <&5 >/dev/null &
    local reader=$!
    wait "$1" 2>/dev/null
    local status=$?
    kill "$reader"
    wait "$reader" 2>/dev/null
    exec 5>&-
    return "$status"
}

# Every item below $1 with a checksum for files, folders ending in '/'.
tree_of() {
    (cd "$1" && find . -mindepth 1 | sort | while read -r item; do
        if [ -d "$item" ]; then echo "${item#./}/"; else echo "${item#./} $(cksum <"$item" | cut -d' ' -f1,2)"; fi
    done)
}

# Hex of a file, for byte comparisons.

# Prints the CR LF lines given as arguments, then the end marker.
config_text() {
    local line
    for line in "$@"; do printf '%s\r\n' "$line"; done
    printf '\x1a'
}

# The game root's Darkinst.cfg of make_game_folder.sh once reset.
expected_root_darkinst() {
    config_text 'install_path C:\Games\Thief2' 'language english' 'resname_base .\RES' \
        'load_path .\' 'script_module_path .\' 'movie_path .\MOVIES'
}

# The mod folder's Darkinst.cfg made from make_game_folder.sh's install.cfg.
expected_mod_darkinst() {
    config_text 'install_path C:\Games\Thief2' 'language english' \
        'resname_base C:\Games\Thief2\q8r+.\RES' 'load_path C:\Games\Thief2\q8r+.\' \
        'script_module_path C:\Games\Thief2\q8r+.\' 'movie_path C:\Games\Thief2\q8r\movies+.\MOVIES'
}

# The 67-byte patch data file that turns "abcdefgh" into "abcdXYZefgh"; with
# an argument, a wrong table sum.
worked_example_patch() {
    local sum='\x2d\x22\x25\x4d'
    [ $# -gt 0 ] && sum='\x2e\x22\x25\x4d'
    printf 'Q8R_AviPatchData\x00\x01\x00\x00\x08\x00\x00\x00\x08\x00\x00\x00'"$sum"
    printf '\x04\x00\x00\x00abcd\x00\x00\x00\x00\x03\x00\x00\x80XYZ\x00\x04\x00\x00\x00efgh\x04\x00\x00\x00XYZ'
}

# Puts the worked example in place of every cutscene video of game folder $1.
install_worked_example() {
    local video
    for video in CS18 CS27 CS29 CS30; do
        printf 'abcdefgh' >"$1/q8r/movies/$video.avi"
        worked_example_patch >"$1/q8r/movies/$video.avi.upd"
    done
}

# The tree that a v1.0 folder made by make_game_folder.sh in $1 should have
# after one run, built from a fresh copy in $2 by hand.
expected_migrated_tree() {
    local reference=$1 out=$2 item voice
    cp -a "$reference" "$out"
    rm -f "$out/q8r.exe"
    for item in cam.cfg dark.cfg user.cfg motiondb.bin lgvid.ax user.bnd dark.bnd saves; do
        cp -a "$out/$item" "$out/q8r/"
    done
    expected_mod_darkinst >"$out/q8r/Darkinst.cfg"
    expected_root_darkinst >"$out/Darkinst.cfg"
    # Same-named files one level up are replaced, same-named folders merged.
    local english
    for english in "$out/q8r/books/english" "$out/q8r/strings/english" "$out"/q8r/snd/*/english; do
        cp -a "$english/." "$english/.."
        find "$english" -mindepth 1 -delete
    done
}

patcher_intro='Updating Q8R v1.0 structure to the new v1.1 structure.
This is a one time operation and will take a few minutes.'

# run_patcher GAME: runs $patcher there with no terminal; sets code, out
# (without the intro lines), intro (yes when they came first), err (uses
# $scratch for the captured output).
run_patcher() {
    (cd "$1" && "$patcher" </dev/null >"$scratch/out" 2>"$scratch/err")
    code=$?
    out=$(cat "$scratch/out")
    intro=no
    if [ "$(head -n 3 <<<"$out")" = "$patcher_intro" ]; then
        intro=yes
        out=$(tail -n +4 <<<"$out")
    fi
    err=$(cat "$scratch/err")
}

# The text a failed video's box prints on standard error.
box() { printf '[Video Patch Error]\n%s\n\nFile: %s' "$1" "$2"; }
# left_box LINE...: the box after "Task Finished." that names what stayed.
left_box() {
    printf '[Files Left Behind]\nTask Finished, but these items were left as they were:\n\n'
    printf '%s\n' "$@"
    printf '\nNothing was lost: what is named here is still in its old place.\nClose any program that may be using the game folder, mend what\nthe reasons say, then run Q8RPatcher again.'
}

# --- after a kill ---------------------------------------------------------------
# holds_one_of FILE CANDIDATE...: FILE has the bytes of one of the candidates.
# The Windows replace is two renames: cut off between them, the name is free
# and the old file waits under <name>.q8r-was, which the next run puts back
# first; that counts as the name's.
holds_one_of() {
    local file=$1 candidate; shift
    [ ! -e "$file" ] && [ -e "$file.q8r-was" ] && file=$file.q8r-was
    for candidate in "$@"; do cmp -s "$file" "$candidate" && return 0; done
    return 1
}

# check_killed_game GAME PRISTINE CORRECTED ROOT_NEW MOD_NEW: adds to
# problems[] what a kill may never leave: a video that is neither its
# original nor its corrected file, a Darkinst.cfg neither old nor new.
check_killed_game() {
    local game=$1 pristine=$2 corrected=$3 root_new=$4 mod_new=$5 video
    for video in CS18 CS27 CS29 CS30; do
        holds_one_of "$game/q8r/movies/$video.avi" "$pristine/q8r/movies/$video.avi" "$corrected/$video.avi" ||
            problems+=("$video.avi is neither the original nor the corrected file")
    done
    holds_one_of "$game/Darkinst.cfg" "$pristine/Darkinst.cfg" "$root_new" ||
        problems+=("the game root's Darkinst.cfg is neither the old nor the new one")
    if [ -e "$game/q8r/Darkinst.cfg" ] || [ -e "$game/q8r/Darkinst.cfg.q8r-was" ]; then
        holds_one_of "$game/q8r/Darkinst.cfg" "$pristine/install.cfg" "$mod_new" ||
            problems+=("the mod's Darkinst.cfg is neither the copy of install.cfg nor the new one")
    fi
}

# boxes_after_kill GAME CORRECTED BOX_FUNCTION: sets boxes[] to what the
# further run must show, each made by BOX_FUNCTION TEXT FILE: a video whose
# patch data is gone was done before the kill (as on any second run); one
# swapped in whose patch data survived is reported as already patched.
boxes_after_kill() {
    local game=$1 corrected=$2 make_box=$3 video
    boxes=()
    for video in CS18 CS27 CS29 CS30; do
        if [ ! -e "$game/q8r/movies/$video.avi.upd" ]; then
            boxes+=("$($make_box "Can't Open Data File" $video.avi)")
        elif cmp -s "$game/q8r/movies/$video.avi" "$corrected/$video.avi"; then
            boxes+=("$($make_box "Incorrect Original Avi File
File may all ready be patched." $video.avi)")
        fi
    done
}
