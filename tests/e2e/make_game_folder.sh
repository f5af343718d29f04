#!/bin/bash
# Lays out a Thief 2 game folder with Q8R v1.0 installed, as the patcher
# expects to find it.
#
# Usage: make_game_folder.sh GAME_DIR [PATCH_TOOL [CORRECTED_DIR]]
#   GAME_DIR       the game folder; made if missing, and must not already
#                  hold a q8r folder.
#   PATCH_TOOL     optional: the maintainers' patch data maker, run as
#                  "PATCH_TOOL make ORIGINAL CORRECTED PATCH". When given,
#                  every cutscene video gets its .upd beside it.
#   CORRECTED_DIR  where the corrected videos are kept for comparison
#                  (default: GAME_DIR.corrected); only with PATCH_TOOL.
# Environment:
#   INSTALL_PATH   the install_path written into the configuration files
#                  (default C:\Games\Thief2).
#
# What it makes:
#   q8r.exe                                 the v1.0 launcher
#   cam.cfg dark.cfg install.cfg user.cfg motiondb.bin lgvid.ax user.bnd
#   dark.bnd saves/ (with a sub-folder)     the nine configuration items
#   Darkinst.cfg                            with the v1.0 relative mod entries
#   q8r/books/english/, q8r/strings/english/, q8r/snd/VOICE/english/ for the
#   23 voice sets, q8r/movies/CS18.avi CS27.avi CS29.avi CS30.avi
# Configuration files have CR LF line ends. Everything is deterministic, so
# two folders made alike are byte for byte the same.
set -eu

if [ $# -lt 1 ] || [ $# -gt 3 ]; then
    sed -n '2,25p' "$0" >&2
    exit 2
fi
game=$1
tool=${2:-}
corrected=${3:-$game.corrected}
install_path=${INSTALL_PATH:-'C:\Games\Thief2'}

if [ -e "$game/q8r" ]; then
    echo "make_game_folder.sh: $game already holds a q8r folder" >&2
    exit 2
fi
mkdir -p "$game"

# Writes the remaining arguments as CR LF lines into file $1.
crlf_lines() {
    local file=$1; shift
    : >"$file"
    local line
    for line in "$@"; do printf '%s\r\n' "$line" >>"$file"; done
}

# A stand-in video: a RIFF header and numbered chunks, $2 chunks long.
make_video() {
    local file=$1 chunks=$2 name
    name=$(basename "$file" .avi)
    {
        printf 'RIFF\0\0\0\0AVI LIST'
        local i
        for ((i = 0; i < chunks; i++)); do printf '00dc%s frame %05d of the original cut\n' "$name" "$i"; done
    } >"$file"
}

# The corrected cut: some frames replaced, one inserted, the tail shortened.
make_corrected_video() {
    local original=$1 file=$2
    sed -e 's/frame \(0*[0-9]*7\) of the original cut/frame \1 FIXED in v1.1 ......../' \
        -e '/frame 00010 /a\
00dc inserted title card for v1.1' \
        -e '$d' "$original" >"$file"
}

printf 'MZ v1.0 launcher of Q8R\n' >"$game/q8r.exe"

crlf_lines "$game/install.cfg" \
    "install_path $install_path" \
    "language english" \
    "resname_base .\\RES" \
    "load_path .\\" \
    "script_module_path .\\" \
    "movie_path .\\MOVIES"
crlf_lines "$game/Darkinst.cfg" \
    "install_path $install_path" \
    "language english" \
    "resname_base .\\q8r+.\\RES" \
    "load_path .\\q8r+.\\" \
    "script_module_path .\\q8r+.\\" \
    "movie_path .\\q8r\\movies+.\\MOVIES"
crlf_lines "$game/cam.cfg" "game_screen_size 1024 768" "fog"
crlf_lines "$game/dark.cfg" "safety_margin 4" "mouse_sensitivity 2.0"
crlf_lines "$game/user.cfg" "gamma 1.1"
printf 'motion database \x01\x02\x03\x00\xff' >"$game/motiondb.bin"
printf 'video codec \x00\x10\x20' >"$game/lgvid.ax"
crlf_lines "$game/user.bnd" "bind w +forward"
crlf_lines "$game/dark.bnd" "bind esc sim_menu"
mkdir -p "$game/saves/current" "$game/saves/game0000"
printf 'quick save\n' >"$game/saves/game0000/file.sav"
printf 'current mission\n' >"$game/saves/current/miss20.mis"

mkdir -p "$game/q8r/books/english/intro" "$game/q8r/strings/english" "$game/q8r/movies"
printf 'Garrett, the city needs you.\n' >"$game/q8r/books/english/note1.str"
printf 'A second note.\n' >"$game/q8r/books/english/note2.str"
printf 'An intro page.\n' >"$game/q8r/books/english/intro/page1.str"
printf 'goals: steal the sceptre\n' >"$game/q8r/strings/english/goals.str"
printf 'objnames: sceptre\n' >"$game/q8r/strings/english/objnames.str"

voices="cop1 cop2 cop3 femalemech femalenoble femalenoble2 femaleservant guard1 guard2 guard3
hammer1 hammer2 hammer3 kedar malak malemech malenoble maleservant smug1 smug2 smug3 truart zaya"
for voice in $voices; do
    mkdir -p "$game/q8r/snd/$voice/english"
    printf 'RIFF %s greeting WAVE\n' "$voice" >"$game/q8r/snd/$voice/english/${voice}_hello.wav"
    printf 'RIFF %s alert WAVE\n' "$voice" >"$game/q8r/snd/$voice/english/${voice}_alert.wav"
done
# One voice set with a sub-folder, so whole folders move too.
mkdir -p "$game/q8r/snd/zaya/english/extra"
printf 'RIFF zaya extra WAVE\n' >"$game/q8r/snd/zaya/english/extra/zaya_laugh.wav"

chunks=300
for video in CS18 CS27 CS29 CS30; do
    make_video "$game/q8r/movies/$video.avi" "$chunks"
    chunks=$((chunks + 40))
done

if [ -n "$tool" ]; then
    mkdir -p "$corrected"
    for video in CS18 CS27 CS29 CS30; do
        original=$game/q8r/movies/$video.avi
        make_corrected_video "$original" "$corrected/$video.avi"
        $tool make "$original" "$corrected/$video.avi" "$original.upd"
    done
fi
