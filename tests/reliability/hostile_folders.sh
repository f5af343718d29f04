#!/bin/bash
# Runs Q8RPatcher in hostile and odd game folders: roots of 200 to 300
# characters, names with blanks and bytes outside ASCII, symbolic links in
# and out of the mod folder, FIFOs and devices where files should be, files
# that cannot be changed, a "q8r" that is a file, a root whose name holds a
# backslash, guards taken from other environments and users, and two
# patchers started at once. Nothing may hang, nothing may be lost, and
# nothing outside the game root may change but through the player's links.
#
# Usage: hostile_folders.sh PATCHER PATCH_TOOL LAUNCHER [ci|all|TRIES]
#   ci (default): the test suite's bounded share:
#                 roots on both sides of the videos' and the delete's limits,
#                 a root whose mod folder and one whose own name does not
#                 fit; two patchers started at once 20 times;
#   all:          roots of 16 lengths from 200 to 300, 100 starts at once;
#   TRIES:        as all, with that many starts at once.
set -u
if [ $# -lt 3 ]; then
    sed -n '2,17p' "$0" >&2
    exit 2
fi
patcher=$(realpath "$1")
tool=$(realpath "$2")
launcher=$(realpath "$3")
mode=${4:-ci}
root_lengths="200 230 234 235 236 241 242 246 247 250 255 258 259 260 280 300"
tries=100
case $mode in
    ci) root_lengths="234 235 241 242 255 259"; tries=20 ;;
    all) ;;
    *[!0-9]*) echo "hostile_folders.sh: the fourth argument must be ci, all or a number" >&2; exit 2 ;;
    *) tries=$mode ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../e2e/e2e_lib.sh"
run_isolated "$0" "$@"

scratch=$(mktemp -d)
# Files made immutable must be freed before they can be removed.
# A background child killed before it execs would run this too and
# take the scratch folder from under the script.
trap '[ "$BASHPID" = "$$" ] && { umount "$scratch/disk" "$scratch"/other-fs/exfat "$scratch"/other-fs/ntfs 2>/dev/null; losetup -j "$scratch/other-fs/exfat.img" -O NAME -n 2>/dev/null | xargs -r losetup -d; chattr -R -i "$scratch" 2>/dev/null; rm -rf "$scratch"; }' EXIT
trap 'exit 1' INT TERM
export TMPDIR=$scratch

custom_darkinst_box() {
    printf '[Error]\nFailed to create custom Darkinst file.\n\nQ8R needs to rename and alter the file "\\q8r\\install.cfg"\nin order to play. Refer to the supplied FAQ for help.'
}
videos="CS18 CS27 CS29 CS30"
voices="cop1 cop2 cop3 femalemech femalenoble femalenoble2 femaleservant guard1 guard2 guard3
hammer1 hammer2 hammer3 kedar malak malemech malenoble maleservant smug1 smug2 smug3 truart zaya"

# make_game DIR: a v1.0 folder with patch data; the corrected videos are kept
# in DIR.corrected.
make_game() { "$e2e_here/make_game_folder.sh" "$1" "$tool" "$1.corrected" >/dev/null; }

# expected_after_run GAME_COPY CORRECTED OUT: the tree of a complete run.
expected_after_run() {
    expected_migrated_tree "$1" "$3"
    local video
    for video in $videos; do
        cp "$2/$video.avi" "$3/q8r/movies/$video.avi"
        rm "$3/q8r/movies/$video.avi.upd"
    done
}

# --- roots of 200 to 300 characters --------------------------------------

# A path of exactly $2 characters below $1.
path_of_length() {
    local path=$1 length=$2
    while [ $((length - ${#path})) -gt 120 ]; do path+=/$(printf 'd%.0s' $(seq 90)); done
    local rest=$((length - ${#path} - 1))
    printf '%s/%s' "$path" "$(printf 'g%.0s' $(seq "$rest"))"
}

fits() { [ "$1" -le 258 ]; }

# What the patcher may touch is what its paths name when they fit in 258
# characters; a path that does not fit is refused whole. Decoys lie where a
# path cut at 258 or 259 characters would land, and must not be touched.
plant_decoys() {
    local root=$1 tail cut name
    for tail in '\q8r.exe' '\q8r' '\cam.cfg' '\install.cfg' '\motiondb.bin' '\saves' '\q8r\darkinst.cfg' \
        '\q8r\books\english\*' '\q8r\books\' '\q8r\strings\english\*' '\q8r\strings\' \
        '\q8r\snd\femaleservant\english\*' '\q8r\snd\femaleservant\' '\q8r\movies\CS18.avi' \
        '\q8r\movies\CS18.avi.upd' '\q8r\movies\CS18.avi.old'; do
        name=$root${tail//\\//}
        for cut in 258 259; do
            [ ${#name} -gt "$cut" ] || continue
            local decoy=${name:0:$cut}
            decoy=${decoy%/}
            [ -e "$decoy" ] || [ ! -d "$(dirname "$decoy")" ] && continue
            mkdir "$decoy" && printf 'decoy\n' >"$decoy/keep.txt"
        done
    done
}

# The model: the first run's effect on a v1.0 copy in $2 whose real root has
# $1 characters.
apply_model() {
    local length=$1 out=$2 item voice video
    fits $((length + 8)) && rm "$out/q8r.exe"
    expected_root_darkinst >"$out/Darkinst.cfg"
    if fits $((length + 4)); then
        for item in cam.cfg dark.cfg install.cfg user.cfg motiondb.bin lgvid.ax user.bnd dark.bnd saves; do
            fits $((length + 1 + ${#item})) && cp -a "$out/$item" "$out/q8r/"
        done
    fi
    if [ -e "$out/q8r/install.cfg" ]; then
        rm "$out/q8r/install.cfg"
        expected_mod_darkinst >"$out/q8r/Darkinst.cfg"
    fi
    fits $((length + 20)) && mv "$out/q8r/books/english/"* "$out/q8r/books/"
    fits $((length + 22)) && mv "$out/q8r/strings/english/"* "$out/q8r/strings/"
    for voice in $voices; do
        fits $((length + 19 + ${#voice})) && mv "$out/q8r/snd/$voice/english/"* "$out/q8r/snd/$voice/"
    done
    # The patch data and backup names are the video's and four more.
    if fits $((length + 24)); then
        for video in $videos; do
            cp "$3/$video.avi" "$out/q8r/movies/$video.avi"
            rm "$out/q8r/movies/$video.avi.upd"
        done
    fi
}

scenario_long_roots() {
    echo "== game roots of 200 to 300 characters"
    local length
    for length in $root_lengths; do
        local base=$scratch/long$length
        local root
        root=$(path_of_length "$base" "$length")
        make_game "$root"
        plant_decoys "$root"
        printf 'next door\n' >"$(dirname "$root")/neighbour.txt"
        local before
        before=$(tree_of "$base")
        cp -a "$root" "$scratch/expected$length"
        apply_model "$length" "$scratch/expected$length" "$root.corrected"
        run_patcher "$root"
        check "root of $length: exit code" 0 "$code"
        check "root of $length: the tree is what the paths that fit name" \
            "$(tree_of "$scratch/expected$length")" "$(tree_of "$root")"
        check "root of $length: nothing outside the root changed" \
            "$(grep -v "^${root#"$base"/}/" <<<"$before")" "$(tree_of "$base" | grep -v "^${root#"$base"/}/")"
        local boxes=()
        [ -e "$scratch/expected$length/q8r/Darkinst.cfg" ] || boxes+=("$(custom_darkinst_box)")
        if ! fits $((length + 24)); then
            for video in $videos; do boxes+=("$(box "Can't Open Original Avi File." $video.avi)"); done
        fi
        check "root of $length: the boxes" "$(printf '%s\n' "${boxes[@]}")" "$err"
        check_true "root of $length: the run gets to its end" '[ "$(tail -n 1 <<<"$out")" = "Task Finished." ]'
    done
}

# --- blanks, bytes outside ASCII, letter case ------------------------------

scenario_odd_names() {
    local name
    for name in $'Thief 2 Gold/Spiel f\xfcr Diebe' 'Thief 2 Gold/Spiel für Diebe – ☃' ' leading and  double blanks '; do
        echo "== a game root named \"$name\""
        local root=$scratch/odd/$name
        mkdir -p "$root"
        make_game "$root"
        # Items with such names in the english folders move like any other.
        printf 'Latin-1\n' >"$root/q8r/books/english/"$'Brief an M\xfcller.str'
        printf 'UTF-8\n' >"$root/q8r/strings/english/über alles.str"
        mkdir "$root/q8r/snd/kedar/english/two  blanks"
        printf 'x\n' >"$root/q8r/snd/kedar/english/two  blanks/"$'\xe9t\xe9.wav'
        # A backslash is an ordinary byte in a name read from a folder.
        printf 'moved whole\n' >"$root/q8r/books/english/intro\\page2.str"
        printf 'kept whole\n' >"$root/q8r/strings/english/x\\y.str"
        printf 'copied whole\n' >"$root/saves/game0000\\file.sav"
        cp -a "$root" "$scratch/odd/before"
        expected_after_run "$scratch/odd/before" "$root.corrected" "$scratch/odd/expected"
        run_patcher "$root"
        check "\"$name\": exit code and no box" "0 " "$code $err"
        check "\"$name\": tree and bytes" "$(tree_of "$scratch/odd/expected")" "$(tree_of "$root")"
        rm -rf "$scratch/odd"
    done

    echo "== an install_path with blanks and bytes outside ASCII"
    local root=$scratch/odd-path/game path=$'D:\\Spiele\\Thief 2 Gold f\xfcr Diebe'
    INSTALL_PATH=$path make_game "$root"
    run_patcher "$root"
    check "the mod's Darkinst.cfg holds the path's bytes as they are" \
        "$(config_text "install_path $path" 'language english' "resname_base $path\\q8r+.\\RES" \
            "load_path $path\\q8r+.\\" "script_module_path $path\\q8r+.\\" \
            "movie_path $path\\q8r\\movies+.\\MOVIES" | od -An -tx1 -v)" "$(od -An -tx1 -v "$root/q8r/Darkinst.cfg")"

    echo "== a mod folder copied from Windows in other letter case"
    root=$scratch/case/game
    make_game "$root"
    cp -a "$root" "$scratch/case/before"
    expected_after_run "$scratch/case/before" "$root.corrected" "$scratch/case/expected"
    local dir
    for dir in "$root" "$scratch/case/expected"; do
        mv "$dir/q8r" "$dir/Q8R" && mv "$dir/Q8R/books" "$dir/Q8R/Books" && mv "$dir/Q8R/Books/english" "$dir/Q8R/Books/English"
        mv "$dir/Q8R/movies" "$dir/Q8R/MOVIES" && mv "$dir/Q8R/snd/zaya" "$dir/Q8R/snd/Zaya"
    done
    run_patcher "$root"
    check "other letter case: exit code and no box" "0 " "$code $err"
    check "other letter case: tree and bytes, names kept as they were" \
        "$(tree_of "$scratch/case/expected")" "$(tree_of "$root")"
}

# --- symbolic links --------------------------------------------------------

# The kind and target of an item, or "missing".
link_of() { if [ -L "$1" ]; then echo "link to $(readlink "$1")"; elif [ -e "$1" ]; then echo "not a link"; else echo missing; fi; }

scenario_links() {
    echo "== symbolic links inside the game root"
    local game=$scratch/links/game outside=$scratch/links/outside
    make_game "$game"
    mkdir -p "$outside/folder" "$outside/strings-en" "$outside/cop1/english" "$outside/saves-elsewhere"
    printf 'outside\n' >"$outside/folder/item.txt"
    printf 'goals elsewhere\n' >"$outside/strings-en/goals.str"
    printf 'cop elsewhere\n' >"$outside/cop1/english/cop1_hello.wav"
    printf 'old launcher elsewhere\n' >"$outside/launcher.exe"
    printf 'shared darkinst\n' >"$outside/shared-darkinst.cfg"
    printf 'another save\n' >"$outside/saves-elsewhere/game0001.sav"
    cp "$game/q8r/movies/CS18.avi" "$outside/CS18.avi"
    cp "$game/q8r/movies/CS29.avi.upd" "$outside/CS29.avi.upd"
    # A link to a folder outside, in a folder that is moved: the link moves.
    ln -s "$outside/folder" "$game/q8r/books/english/out-link"
    # An english folder and a voice folder kept elsewhere: followed, as
    # Windows follows links, so their items move up through the links.
    rm -rf "$game/q8r/strings/english"
    ln -s "$outside/strings-en" "$game/q8r/strings/english"
    rm -rf "$game/q8r/snd/cop1"
    ln -s "$outside/cop1" "$game/q8r/snd/cop1"
    # Deletions remove the links, never what they point to.
    rm "$game/q8r.exe"
    ln -s "$outside/launcher.exe" "$game/q8r.exe"
    ln -s "$outside/shared-darkinst.cfg" "$game/q8r/Darkinst.cfg"
    ln -s "$outside/CS29.avi.upd" "$game/q8r/movies/CS29.avi.upd.tmp" && mv -f "$game/q8r/movies/CS29.avi.upd.tmp" "$game/q8r/movies/CS29.avi.upd"
    # Links inside a copied folder stay links; a loop is an item like any other.
    ln -s "$outside/saves-elsewhere" "$game/saves/elsewhere"
    ln -s . "$game/q8r/snd/cop2/english/loop"
    # A video that is a link out: as on Windows, the file the link names is
    # patched and the link stays.
    ln -sf "$outside/CS18.avi" "$game/q8r/movies/CS18.avi"
    local expected_outside=$scratch/links/expected-outside
    cp -a "$outside" "$expected_outside"
    mv "$expected_outside/cop1/english/cop1_hello.wav" "$expected_outside/cop1/"
    rm "$expected_outside/strings-en/goals.str"
    run_patcher "$game"
    check "links: exit code and no box" "0 " "$code $err"
    check "links: outside, only what the followed links lead to changed" \
        "$(tree_of "$expected_outside" | grep -v '^CS18.avi ')" "$(tree_of "$outside" | grep -v '^CS18.avi ')"
    check "links: a link in a moved folder moved as a link" \
        "link to $outside/folder|missing" "$(link_of "$game/q8r/books/out-link")|$(link_of "$game/q8r/books/english/out-link")"
    check "links: the linked english folder stays a link, its items moved up" \
        "link to $outside/strings-en|not a link goals elsewhere" \
        "$(link_of "$game/q8r/strings/english")|$(link_of "$game/q8r/strings/goals.str") $(cat "$game/q8r/strings/goals.str")"
    check "links: the linked voice folder stays a link" "link to $outside/cop1" "$(link_of "$game/q8r/snd/cop1")"
    check "links: the deleted launcher was the link" "missing" "$(link_of "$game/q8r.exe")"
    check "links: the mod's Darkinst.cfg is made anew in place of the link" \
        "not a link $(expected_mod_darkinst | od -An -tx1 -v)" "$(link_of "$game/q8r/Darkinst.cfg") $(od -An -tx1 -v "$game/q8r/Darkinst.cfg")"
    check "links: the saves' link was copied as a link" "link to $outside/saves-elsewhere" "$(link_of "$game/q8r/saves/elsewhere")"
    check "links: the loop moved as a link" "link to ." "$(link_of "$game/q8r/snd/cop2/loop")"
    check_true "links: the linked video stays a link to the corrected file" \
        '[ -L "$game/q8r/movies/CS18.avi" ] && cmp -s "$outside/CS18.avi" "$game.corrected/CS18.avi"'
    check_true "links: the linked patch data was used, then its link removed" \
        '[ ! -e "$game/q8r/movies/CS29.avi.upd" ] && [ ! -L "$game/q8r/movies/CS29.avi.upd" ] && cmp -s "$game/q8r/movies/CS29.avi" "$game.corrected/CS29.avi"'

    echo "== a movies folder kept on another disk behind a link"
    game=$scratch/movies-link/game outside=$scratch/movies-link/outside
    make_game "$game"
    mkdir -p "$outside"
    cp -a "$game" "$scratch/movies-link/before"
    expected_after_run "$scratch/movies-link/before" "$game.corrected" "$scratch/movies-link/expected"
    mv "$game/q8r/movies" "$outside/movies"
    ln -s "$outside/movies" "$game/q8r/movies"
    run_patcher "$game"
    check "movies link: exit code and no box" "0 " "$code $err"
    check "movies link: the videos are patched where the link leads" \
        "$(tree_of "$scratch/movies-link/expected/q8r/movies")" "$(tree_of "$outside/movies")"

    echo "== a mod folder kept on another disk behind a link"
    game=$scratch/mod-link/game outside=$scratch/mod-link/outside
    make_game "$game"
    mkdir -p "$outside"
    cp -a "$game" "$scratch/mod-link/before"
    expected_after_run "$scratch/mod-link/before" "$game.corrected" "$scratch/mod-link/expected"
    # What a later run of the copy step would have left there.
    cp "$game/install.cfg" "$game/q8r/install.cfg"
    mv "$game/q8r" "$outside/q8r"
    ln -s "$outside/q8r" "$game/q8r"
    run_patcher "$game"
    check "mod link: exit code and no box" "0 " "$code $err"
    check "mod link: the mod folder is migrated where the link leads" \
        "$(tree_of "$scratch/mod-link/expected/q8r")" "$(tree_of "$outside/q8r")"
}

# --- FIFOs and devices -------------------------------------------------------

scenario_fifos() {
    echo "== FIFOs and a device where files should be"
    local game=$scratch/fifo/game
    make_game "$game"
    rm "$game/Darkinst.cfg" "$game/q8r/movies/CS27.avi.upd" "$game/q8r/movies/CS29.avi"
    mkfifo "$game/Darkinst.cfg" "$game/q8r/movies/CS27.avi.upd" "$game/q8r/movies/CS29.avi"
    local boxes=("$(box "Can't Open Data File" CS27.avi)" "$(box "Can't Open Original Avi File." CS29.avi)")
    if rm "$game/q8r/movies/CS30.avi" && mknod "$game/q8r/movies/CS30.avi" c 1 5 2>/dev/null; then
        boxes+=("$(box "Can't Open Original Avi File." CS30.avi)")
    else
        cp "$game.corrected/CS30.avi" "$game/q8r/movies/CS30.avi"
        rm "$game/q8r/movies/CS30.avi.upd"
        skip "no device node could be made here (mknod needs root)"
    fi
    (cd "$game" && timeout 600 "$patcher" </dev/null >"$scratch/out" 2>"$scratch/err")
    code=$?
    check "FIFOs: the patcher ends without waiting" 0 "$code"
    check "FIFOs: each is reported as a file that cannot be opened" "$(printf '%s\n' "${boxes[@]}")" "$(cat "$scratch/err")"
    check_true "FIFOs: the rest is done" '[ "$(tail -n 1 "$scratch/out")" = "Task Finished." ] && cmp -s "$game/q8r/movies/CS18.avi" "$game.corrected/CS18.avi"'

    local answer
    answer=$(cd "$game" && printf '1\n' | timeout 600 "$launcher" 2>&1 >/dev/null)
    check "FIFO Darkinst.cfg: the launcher ends without waiting and starts nothing" \
        "0 Q8RLauncher: cannot start the game: no install_path line in a Darkinst.cfg of this folder." "$? $answer"
    timeout 600 "$tool" describe "$game/q8r/movies/CS27.avi.upd" >/dev/null 2>&1
    check "FIFO patch data: q8r-avipatch describe ends with 1" 1 "$?"
    timeout 600 "$tool" make "$game/q8r/movies/CS29.avi" "$game/q8r/movies/CS18.avi" "$scratch/fifo/out.upd" >/dev/null 2>&1
    check "FIFO original: q8r-avipatch make ends with 1" 1 "$?"
}

# --- files that cannot be changed ------------------------------------------

scenario_immutable() {
    echo "== files that cannot be changed"
    # A read-only install.cfg is copied read-only, as CopyFile carries the
    # attribute, so its rewrite is refused as on Windows, for root too.
    local game=$scratch/ro-install/game
    make_game "$game"
    chmod 0444 "$game/install.cfg"
    run_patcher "$game"
    check "read-only install.cfg: ends with 1, the box names the mod's Darkinst.cfg" \
        "1 $(printf '[Error]\nThe file "\\q8r\\Darkinst.cfg"\n could not be opened for writing.\n\nQ8R needs to alter this file in order to play.')" \
        "$code $err"
    check "read-only install.cfg: renamed as it was, its mode kept" "444 same" \
        "$(stat -c %a "$game/q8r/Darkinst.cfg") $(cmp -s "$game/install.cfg" "$game/q8r/Darkinst.cfg" && echo same)"

    local probe=$scratch/probe
    touch "$probe"
    if ! chattr +i "$probe" 2>/dev/null; then
        skip "the file system has no immutable flag (chattr +i); as root, permission bits do not stop writes"
        return
    fi
    chattr -i "$probe"

    game=$scratch/ro-root/game
    make_game "$game"
    cp -a "$game" "$scratch/ro-root/before"
    chattr +i "$game/Darkinst.cfg"
    run_patcher "$game"
    check "immutable game root Darkinst.cfg: ends with 1" 1 "$code"
    check "immutable game root Darkinst.cfg: the error box" \
        "$(printf '[Error]\nThe file "Darkinst.cfg"\n could not be opened for writing.\n\nQ8R needs to alter this file in order to play.')" "$err"
    rm -rf "$scratch/ro-root/before/q8r.exe"
    check "immutable game root Darkinst.cfg: nothing but the old launcher changed" \
        "$(tree_of "$scratch/ro-root/before")" "$(tree_of "$game")"

    game=$scratch/ro-items/game
    make_game "$game"
    cp -a "$game" "$scratch/ro-items/before"
    expected_after_run "$scratch/ro-items/before" "$game.corrected" "$scratch/ro-items/expected"
    chattr +i "$game/q8r/books/english/note1.str" "$game/q8r/movies/CS27.avi"
    # What cannot be moved or patched stays where and as it was.
    mv "$scratch/ro-items/expected/q8r/books/note1.str" "$scratch/ro-items/expected/q8r/books/english/"
    cp "$scratch/ro-items/before/q8r/movies/CS27.avi"* "$scratch/ro-items/expected/q8r/movies/"
    run_patcher "$game"
    check "immutable items: exit code" 2 "$code"
    check "immutable items: the video that cannot be replaced and the book that stayed are reported" \
        "$(box "Can't Create New Avi File" CS27.avi)
$(left_box "q8r/books/english/note1.str (it could not be moved: Operation not permitted)")" "$err"
    check "immutable items: the rest is done, the patch data kept for a later run" \
        "$(tree_of "$scratch/ro-items/expected")" "$(tree_of "$game")"

    # A mod folder that takes no new entries: no copies, hence no Darkinst.cfg;
    # its sub-folders are still migrated.
    game=$scratch/ro-mod/game
    make_game "$game"
    cp -a "$game" "$scratch/ro-mod/before"
    expected_after_run "$scratch/ro-mod/before" "$game.corrected" "$scratch/ro-mod/expected"
    local item
    for item in cam.cfg dark.cfg user.cfg motiondb.bin lgvid.ax user.bnd dark.bnd saves Darkinst.cfg; do
        rm -rf "$scratch/ro-mod/expected/q8r/$item"
    done
    chattr +i "$game/q8r"
    run_patcher "$game"
    check "immutable mod folder: exit code" 2 "$code"
    check "immutable mod folder: the failed Darkinst.cfg and the items not copied are reported" "$(custom_darkinst_box)
$(left_box "cam.cfg (it could not be copied: Operation not permitted)" \
           "dark.cfg (it could not be copied: Operation not permitted)" \
           "install.cfg (it could not be copied: Operation not permitted)" \
           "user.cfg (it could not be copied: Operation not permitted)" \
           "motiondb.bin (it could not be copied: Operation not permitted)" "and 4 more.")" "$err"
    check "immutable mod folder: everything else is done" "$(tree_of "$scratch/ro-mod/expected")" "$(tree_of "$game")"
}

# --- a full disk -----------------------------------------------------------

scenario_full_disk() {
    echo "== a disk that fills up during the run"
    local disk=$scratch/disk
    mkdir -p "$disk"
    if ! mount -t tmpfs -o size=4m tmpfs "$disk" 2>/dev/null; then
        skip "no small file system to be had (mounting a tmpfs needs root)"
        return
    fi
    local reference=$scratch/full-disk/reference
    make_game "$reference"
    cp -a "$reference" "$scratch/full-disk/before"
    run_patcher "$reference"
    local expected
    expected=$(tree_of "$reference")
    local free failures=0 levels=0 hit=0
    # From no room at all to room for everything, a page at a time.
    for ((free = 0; free <= 81920; free += 4096)); do
        levels=$((levels + 1))
        rm -rf "${disk:?}"/*
        cp -a "$scratch/full-disk/before" "$disk/game"
        cp -a "$reference.corrected" "$disk/corrected"
        local avail
        avail=$(df --output=avail -B1 "$disk" | tail -n 1)
        [ "$avail" -gt "$free" ] && head -c $((avail - free)) /dev/zero >"$disk/filler" 2>/dev/null
        run_patcher "$disk/game"
        local first=$code problems=()
        if [ "$first" = 0 ] && [ -z "$err" ]; then :; else hit=$((hit + 1)); fi
        local video
        for video in $videos; do
            cmp -s "$disk/game/q8r/movies/$video.avi" "$scratch/full-disk/before/q8r/movies/$video.avi" ||
                cmp -s "$disk/game/q8r/movies/$video.avi" "$disk/corrected/$video.avi" ||
                problems+=("$video.avi is neither the original nor the corrected file")
        done
        cmp -s "$disk/game/Darkinst.cfg" "$scratch/full-disk/before/Darkinst.cfg" ||
            cmp -s "$disk/game/Darkinst.cfg" "$reference/Darkinst.cfg" || problems+=("the game root's Darkinst.cfg is damaged")
        if [ -e "$disk/game/q8r/Darkinst.cfg" ]; then
            cmp -s "$disk/game/q8r/Darkinst.cfg" "$reference/install.cfg" ||
                cmp -s "$disk/game/q8r/Darkinst.cfg" "$reference/q8r/Darkinst.cfg" || problems+=("the mod's Darkinst.cfg is damaged")
        fi
        # With room again, a further run finishes the migration.
        rm -f "$disk/filler"
        run_patcher "$disk/game"
        [ "$code" = 0 ] || problems+=("the further run ended with $code")
        [ "$(tree_of "$disk/game")" == "$expected" ] || problems+=("the further run left another tree")
        if [ ${#problems[@]} -gt 0 ]; then
            failures=$((failures + 1))
            echo "    $free bytes free (first run ended with $first): ${problems[*]}"
        fi
    done
    umount "$disk"
    echo "    $levels levels of free room, in $hit of them the first run failed somewhere"
    check "full disk: nothing damaged, and a further run with room finishes" 0 "$failures"
}

# --- file systems without hard links, rename flags or modes ----------------

# A game on exFAT (no hard links, no renameat2 flags: a Linux player's drive
# shared with Windows) and on NTFS ends as it does on the local file system.
scenario_other_file_systems() {
    echo "== a game on exFAT and NTFS images"
    if [ "$(id -u)" != 0 ] || ! command -v mkfs.exfat >/dev/null || ! command -v mount.exfat-fuse >/dev/null ||
        ! command -v mkntfs >/dev/null || ! command -v ntfs-3g >/dev/null; then
        skip "exFAT and NTFS images need root, exfatprogs, exfat-fuse and ntfs-3g"
        return
    fi
    local reference=$scratch/other-fs/reference
    make_game "$reference"
    cp -a "$reference" "$scratch/other-fs/before"
    run_patcher "$reference"
    local expected
    expected=$(tree_of "$reference")
    local kind image disk loop
    for kind in exfat ntfs; do
        image=$scratch/other-fs/$kind.img disk=$scratch/other-fs/$kind loop=
        mkdir -p "$disk"
        truncate -s 64M "$image"
        if [ $kind = exfat ]; then
            mkfs.exfat "$image" >/dev/null 2>&1 && loop=$(losetup -f --show "$image") &&
                mount.exfat-fuse "$loop" "$disk" >/dev/null 2>&1
        else
            mkntfs -F -q -f "$image" >/dev/null 2>&1 && ntfs-3g "$image" "$disk" >/dev/null 2>&1
        fi || {
            fail "$kind: the image could not be made and mounted"
            [ -n "$loop" ] && losetup -d "$loop"
            continue
        }
        cp -r "$scratch/other-fs/before" "$disk/game"
        run_patcher "$disk/game"
        check "$kind: exit code, no box, and the tree of the local file system" "0 $expected" \
            "$code$err $(tree_of "$disk/game")"
        umount "$disk"
        [ -n "$loop" ] && losetup -d "$loop"
    done
}

# --- a q8r that is a file ---------------------------------------------------

scenario_mod_folder_is_a_file() {
    echo "== a q8r that is a file"
    local game=$scratch/q8r-file/game
    make_game "$game"
    rm -rf "$game/q8r"
    printf 'not a folder \x00\xff\n' >"$game/q8r"
    cp -a "$game" "$scratch/q8r-file/expected"
    rm "$scratch/q8r-file/expected/q8r.exe"
    expected_root_darkinst >"$scratch/q8r-file/expected/Darkinst.cfg"
    run_patcher "$game"
    check "q8r file: exit code" 0 "$code"
    check "q8r file: the failures are reported" \
        "$(custom_darkinst_box; echo; for video in $videos; do box "Can't Open Data File" $video.avi; echo; done)" "$err"
    check "q8r file: the file keeps its bytes, nothing else is made" \
        "$(tree_of "$scratch/q8r-file/expected")" "$(tree_of "$game")"
}

# --- a backslash in the root's name ------------------------------------------

scenario_backslash_root() {
    echo "== a game root whose name holds a backslash"
    # The game's paths take a backslash for a separator: such a root would
    # name another folder, here a second game folder beside it.
    local root=$scratch/bs/'Thief\Q8R' other=$scratch/bs/Thief/Q8R
    # Without patch data: the maker would take the backslash for a separator.
    "$e2e_here/make_game_folder.sh" "$root" >/dev/null
    "$e2e_here/make_game_folder.sh" "$other" >/dev/null
    local before
    before=$(tree_of "$scratch/bs")
    run_patcher "$root"
    check "backslash: refused with 1" 1 "$code"
    check_true "backslash: says why" 'grep -q "backslash" <<<"$err"'
    check "backslash: nothing changed in either folder" "$before" "$(tree_of "$scratch/bs")"
}

# --- status output nobody reads --------------------------------------------------

scenario_broken_pipe() {
    echo "== status output into a pipe whose reader has gone"
    local game=$scratch/pipe-gone/game
    make_game "$game"
    cp -a "$game" "$scratch/pipe-gone/before"
    expected_after_run "$scratch/pipe-gone/before" "$game.corrected" "$scratch/pipe-gone/expected"
    # head has ended before the patcher writes its first status line.
    { sleep 0.5; (cd "$game" && exec "$patcher" </dev/null 2>"$scratch/err"); echo $? >"$scratch/code"; } | head -c 0
    check "broken pipe: the run goes on to its end, exit code and no box" "0 " "$(cat "$scratch/code") $(cat "$scratch/err")"
    check "broken pipe: tree and bytes" "$(tree_of "$scratch/pipe-gone/expected")" "$(tree_of "$game")"
}

# --- the single-instance guard -------------------------------------------------

scenario_guard() {
    echo "== the guard, taken from another environment and by another user"
    local game=$scratch/guard
    mkdir -p "$game"
    open_full_pipe
    (cd "$game" && exec "$patcher" </dev/null >&5 2>/dev/null) &
    local holder=$!
    wait_for_guard Q8RPatcher
    (cd "$game" && XDG_RUNTIME_DIR=$scratch/other-run TMPDIR=$scratch/other-tmp exec "$patcher" </dev/null >/dev/null 2>&1)
    check "guard: another session's patcher sees it" 255 "$?"
    if [ "$(id -u)" = 0 ]; then
        (cd "$game" && exec setpriv --reuid=65534 --regid=65534 --clear-groups --reset-env "$patcher" </dev/null >/dev/null 2>&1)
        check "guard: another user's patcher sees it" 255 "$?"
    else
        skip "only root can start a patcher as another user"
    fi
    kill -KILL "$holder"
    drain_pipe "$holder"
    (cd "$game" && exec "$patcher" </dev/null >/dev/null 2>&1)
    check "guard: free again once its holder was killed" 0 "$?"

    # The launcher holds its own guard while it waits for a key.
    mkfifo "$scratch/keys"
    exec 6<>"$scratch/keys"
    (cd "$game" && exec "$launcher" <&6 >/dev/null 2>&1) &
    holder=$!
    wait_for_guard Q8RLoader
    (cd "$game" && XDG_RUNTIME_DIR=$scratch/other-run TMPDIR=$scratch/other-tmp exec "$launcher" </dev/null >/dev/null 2>&1)
    check "guard: another session's launcher sees the launcher's" 255 "$?"
    printf 'q\n' >&6
    wait "$holder"
    check "guard: the waiting launcher quits on q" 0 "$?"
    exec 6>&-
}

# --- root in another user's folder ---------------------------------------------

scenario_root_in_another_users_folder() {
    echo "== root in a game folder another user owns"
    if [ "$(id -u)" != 0 ]; then
        skip "only root can give a folder to another user"
        return
    fi
    local game=$scratch/others/game
    make_game "$game"
    chown -R 65534:65534 "$scratch/others"
    chmod o+x "$scratch"
    local before
    before=$(tree_of "$game")
    run_patcher "$game"
    check "another user's folder: root refuses, naming the owner and how to run it" \
        "1 $(id -nu 65534) $before" "$code $(grep -o "sudo -u '[^']*'" <<<"$err" | cut -d"'" -f2) $(tree_of "$game")"
    (cd "$game" && exec setpriv --reuid=65534 --regid=65534 --clear-groups "$patcher" </dev/null >/dev/null 2>&1)
    check "another user's folder: its owner runs it" 0 "$?"
    chmod o-x "$scratch"
}

# --- two patchers at once -----------------------------------------------------

scenario_two_at_once() {
    echo "== two patchers started at once, $tries times"
    local game=$scratch/twice
    mkdir -p "$game"
    local try exactly_one=0 problems=0
    for ((try = 0; try < tries; try++)); do
        # The one that takes the guard waits at its first status line.
        open_full_pipe
        (cd "$game" && exec "$patcher" </dev/null >&5 2>/dev/null) &
        local a=$!
        (cd "$game" && exec "$patcher" </dev/null >&5 2>/dev/null) &
        local b=$!
        wait -n "$a" "$b"
        local first=$? waiting
        if kill -0 "$a" 2>/dev/null; then waiting=$a; else waiting=$b; fi
        local still=0
        kill -0 "$waiting" 2>/dev/null && still=1
        drain_pipe "$waiting"
        local second=$?
        if [ "$first" = 255 ] && [ "$still" = 1 ] && [ "$second" = 0 ]; then
            exactly_one=$((exactly_one + 1))
        else
            problems=$((problems + 1))
            echo "    try $try: first ended with $first, the other was waiting: $still, then ended with $second"
        fi
    done
    echo "    exactly one of two refused in $exactly_one of $tries tries"
    check "two at once: exactly one runs, every time" "$tries" "$exactly_one"
}

scenario_long_roots
scenario_odd_names
scenario_links
scenario_fifos
scenario_immutable
scenario_full_disk
scenario_other_file_systems
scenario_mod_folder_is_a_file
scenario_backslash_root
scenario_broken_pipe
scenario_guard
scenario_root_in_another_users_folder
scenario_two_at_once
e2e_summary
