#!/bin/bash
# Runs Q8RPatcher in hostile and odd game folders: roots of 200 to 300
# characters, names with blanks and bytes outside ASCII, symbolic links in
# and out of the mod folder, files that cannot be changed, a "q8r" that is a
# file, a root whose name holds a backslash, and two patchers started at once.
# In each, nothing outside the game root may change and nothing may be lost.
#
# Usage: hostile_folders.sh PATCHER PATCH_TOOL [TRIES]
#   TRIES: how often two patchers are started at once (default 100).
set -u
if [ $# -lt 2 ]; then
    sed -n '2,9p' "$0" >&2
    exit 2
fi
patcher=$(realpath "$1")
tool=$(realpath "$2")
tries=${3:-100}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../e2e/e2e_lib.sh"

scratch=$(mktemp -d)
# Files made immutable must be freed before they can be removed.
trap 'umount "$scratch/disk" 2>/dev/null; chattr -R -i "$scratch" 2>/dev/null; rm -rf "$scratch"' EXIT
trap 'exit 1' INT TERM
export TMPDIR=$scratch
unset XDG_RUNTIME_DIR

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
    for length in 200 230 234 235 236 241 242 246 247 250 255 258 259 260 280 300; do
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
    # An english folder that is a link out: its items are not moved.
    rm -rf "$game/q8r/strings/english"
    ln -s "$outside/strings-en" "$game/q8r/strings/english"
    # A voice folder that is a link out: neither source nor target is used.
    rm -rf "$game/q8r/snd/cop1"
    ln -s "$outside/cop1" "$game/q8r/snd/cop1"
    # Deletions remove the links, never what they point to.
    rm "$game/q8r.exe"
    ln -s "$outside/launcher.exe" "$game/q8r.exe"
    ln -s "$outside/shared-darkinst.cfg" "$game/q8r/Darkinst.cfg"
    ln -s "$outside/CS29.avi.upd" "$game/q8r/movies/CS29.avi.upd.tmp" && mv -f "$game/q8r/movies/CS29.avi.upd.tmp" "$game/q8r/movies/CS29.avi.upd"
    # Copies copy links as links; a loop is an item like any other.
    ln -s "$outside/saves-elsewhere" "$game/saves/elsewhere"
    ln -s . "$game/q8r/snd/cop2/english/loop"
    # A video that is a link out: as on Windows, the file the link names is
    # patched and the link stays.
    ln -sf "$outside/CS18.avi" "$game/q8r/movies/CS18.avi"
    local outside_before
    outside_before=$(tree_of "$outside" | grep -v '^CS18.avi ')
    run_patcher "$game"
    check "links: exit code and no box" "0 " "$code $err"
    check "links: nothing else outside the game root changed" "$outside_before" "$(tree_of "$outside" | grep -v '^CS18.avi ')"
    check "links: a link in a moved folder moved as a link" \
        "link to $outside/folder|missing" "$(link_of "$game/q8r/books/out-link")|$(link_of "$game/q8r/books/english/out-link")"
    check "links: the english folder that leads out stays a link" \
        "link to $outside/strings-en|missing" "$(link_of "$game/q8r/strings/english")|$(link_of "$game/q8r/strings/goals.str")"
    check "links: the voice folder that leads out stays a link" "link to $outside/cop1" "$(link_of "$game/q8r/snd/cop1")"
    check "links: the deleted launcher was the link" "missing" "$(link_of "$game/q8r.exe")"
    check "links: the mod's Darkinst.cfg is made anew in place of the link" \
        "not a link $(expected_mod_darkinst | od -An -tx1 -v)" "$(link_of "$game/q8r/Darkinst.cfg") $(od -An -tx1 -v "$game/q8r/Darkinst.cfg")"
    check "links: the saves' link was copied as a link" "link to $outside/saves-elsewhere" "$(link_of "$game/q8r/saves/elsewhere")"
    check "links: the loop moved as a link" "link to ." "$(link_of "$game/q8r/snd/cop2/loop")"
    check_true "links: the linked video stays a link to the corrected file" \
        '[ -L "$game/q8r/movies/CS18.avi" ] && cmp -s "$outside/CS18.avi" "$game.corrected/CS18.avi"'
    check_true "links: the linked patch data was used, then its link removed" \
        '[ ! -e "$game/q8r/movies/CS29.avi.upd" ] && [ ! -L "$game/q8r/movies/CS29.avi.upd" ] && cmp -s "$game/q8r/movies/CS29.avi" "$game.corrected/CS29.avi"'

    echo "== a movies folder that is a link out of the game root"
    game=$scratch/movies-link/game outside=$scratch/movies-link/outside
    make_game "$game"
    mkdir -p "$outside"
    mv "$game/q8r/movies" "$outside/movies"
    ln -s "$outside/movies" "$game/q8r/movies"
    outside_before=$(tree_of "$outside")
    run_patcher "$game"
    check "movies link: nothing outside the game root changed" "$outside_before" "$(tree_of "$outside")"
    local boxes=() video
    for video in $videos; do boxes+=("$(box "Can't Create New Avi File" $video.avi)"); done
    check "movies link: each video is reported" "$(printf '%s\n' "${boxes[@]}")" "$err"

    echo "== a mod folder that is a link out of the game root"
    game=$scratch/mod-link/game outside=$scratch/mod-link/outside
    make_game "$game"
    mkdir -p "$outside"
    # What a later run of the copy step would have left there.
    cp "$game/install.cfg" "$game/q8r/install.cfg"
    mv "$game/q8r" "$outside/q8r"
    ln -s "$outside/q8r" "$game/q8r"
    outside_before=$(tree_of "$outside")
    run_patcher "$game"
    check "mod link: nothing outside the game root changed" "$outside_before" "$(tree_of "$outside")"
    check "mod link: the Darkinst.cfg and each video are reported" \
        "$(custom_darkinst_box; echo; printf '%s\n' "${boxes[@]}")" "$err"
}

# --- files that cannot be changed ------------------------------------------

scenario_immutable() {
    echo "== files that cannot be changed"
    local probe=$scratch/probe
    touch "$probe"
    if ! chattr +i "$probe" 2>/dev/null; then
        skip "the file system has no immutable flag (chattr +i); as root, permission bits do not stop writes"
        return
    fi
    chattr -i "$probe"

    local game=$scratch/ro-root/game
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
    check "immutable items: exit code" 0 "$code"
    check "immutable items: the video that cannot be replaced is reported" "$(box "Can't Create New Avi File" CS27.avi)" "$err"
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
    check "immutable mod folder: exit code" 0 "$code"
    check "immutable mod folder: the failed Darkinst.cfg is reported" "$(custom_darkinst_box)" "$err"
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

# --- two patchers at once -----------------------------------------------------

scenario_two_at_once() {
    echo "== two patchers started at once, $tries times"
    local game=$scratch/twice
    mkdir -p "$game"
    # Reading a FIFO blocks until someone writes: the patcher that holds the
    # guard waits there while the other one starts.
    mkfifo "$game/Darkinst.cfg"
    local try exactly_one=0 problems=0
    for ((try = 0; try < tries; try++)); do
        (cd "$game" && exec "$patcher" </dev/null >"$scratch/a-out" 2>&1) &
        local a=$!
        (cd "$game" && exec "$patcher" </dev/null >"$scratch/b-out" 2>&1) &
        local b=$!
        wait -n "$a" "$b"
        local first=$? waiting
        if kill -0 "$a" 2>/dev/null; then waiting=$a; else waiting=$b; fi
        local still=0
        kill -0 "$waiting" 2>/dev/null && still=1
        # Let the waiting one read: open the FIFO for writing and close it.
        timeout 10 bash -c ': >"$1"' _ "$game/Darkinst.cfg"
        wait "$waiting"
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
scenario_immutable
scenario_full_disk
scenario_mod_folder_is_a_file
scenario_backslash_root
scenario_two_at_once
e2e_summary
