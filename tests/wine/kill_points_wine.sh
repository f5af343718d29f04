#!/bin/bash
# Kills Q8RPatcher.exe under Wine at chosen changes of the game folder (the
# n-th name made, written, renamed or removed: every side name's first of
# all) and checks after every kill that nothing was lost, and that a further
# run finishes the migration, leaving no side file of any suffix and the
# tree of an uninterrupted run.
#
# Usage: kill_points_wine.sh SOURCE_DIR WORK PATCHER_EXE DRIVER_EXE PATCH_TOOL_EXE [ci|all]
#   ci (default): 12 of the changes of side names and 4 others, spread over
#                 the run; all: every change.
set -u
src=$1 work=$2 patcher=$3 driver=$4 tool=$5 mode=${6:-ci}
. "$src/tests/e2e/e2e_lib.sh"
run_isolated "$0" "$@"

rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/prefix
watcher=
trap '[ -n "$watcher" ] && kill "$watcher" 2>/dev/null; wineserver -k >/dev/null 2>&1' EXIT
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
wine_run() { "$src/scripts/wine-run" --no-display "$WINEPREFIX" "$@"; }
wine_run cmd /c ver >/dev/null 2>&1

mapfile -t side_suffixes < <(sed -n 's/^inline constexpr char k[A-Za-z]*Suffix\[\] = "\(.*\)";$/\1/p' "$src/common/side_names.h")
[ ${#side_suffixes[@]} -gt 5 ] || { echo "kill_points_wine.sh: no side names in common/side_names.h" >&2; exit 2; }
is_side_name() {
    local suffix
    for suffix in "${side_suffixes[@]}"; do [[ $1 == *"$suffix" ]] && return 0; done
    return 1
}

pristine=$work/pristine game=$work/game corrected=$work/corrected
"$src/tests/e2e/make_game_folder.sh" "$pristine" "$src/scripts/wine-run $WINEPREFIX $tool" "$corrected" >/dev/null ||
    exit 2
fresh_game() { rm -rf "$game" && cp -a "$pristine" "$game"; }

# watched_run NAME [N]: the patcher in $game, its changes in $work/NAME.events,
# killed at the N-th; the driver's log in $work/NAME.log.
watched_run() {
    local name=$1 at=${2:-}
    rm -f "$work/ready"
    python3 "$src/tests/wine/kill_on_event.py" "$game" Q8RPatcher.exe "$WINEPREFIX" "$work/ready" $at >"$work/$name.events" &
    watcher=$!
    for _ in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.05; done
    timeout 600 "$src/scripts/wine-run" --no-display "$WINEPREFIX" "$driver" "$(winpath "$work/$name.log")" \
        "$(winpath "$patcher")" "$(winpath "$game")" >"$work/$name.wine.log" 2>&1
    kill "$watcher" 2>/dev/null
    wait "$watcher" 2>/dev/null
    watcher=
}
value() { grep -m1 "^$2=" "$work/$1.log" | cut -d= -f2-; }
boxes_of() {
    local i
    for i in $(seq "$(value "$1" boxes)"); do value "$1" "box$i.text"; done
}

fresh_game
watched_run uncut
check "the uninterrupted run ends with 0 and no box" "0 0" "$(value uncut exit) $(value uncut boxes)"
expected_tree=$(tree_of "$game")
cp "$game/q8r/Darkinst.cfg" "$work/mod-new"
cp "$game/Darkinst.cfg" "$work/root-new"

# The points: ORDINAL KIND PATH, side names first.
grep -v '^killed' "$work/uncut.events" >"$work/points-all"
: >"$work/side-points"
: >"$work/other-points"
while read -r ordinal kind path; do
    if is_side_name "$path"; then echo "$ordinal $kind $path" >>"$work/side-points"; else echo "$ordinal $kind $path" >>"$work/other-points"; fi
done <"$work/points-all"
spread() {  # N FILE: N of its lines, spread evenly
    awk -v n="$1" '{ line[NR] = $0 } END { for (k = 0; k < n && NR > 0; k++) print line[int(k * NR / n) + 1] }' "$2" |
        sort -un
}
if [ "$mode" = all ]; then
    cp "$work/points-all" "$work/points"
else
    { spread 12 "$work/side-points"; spread 4 "$work/other-points"; } | sort -un >"$work/points"
fi
echo "$(wc -l <"$work/points-all") changes in the run, $(wc -l <"$work/side-points") of side names; trying $(wc -l <"$work/points")"
check_true "the run makes side names to kill at" '[ -s "$work/side-points" ]'

# The box as the driver's log writes it: line breaks as \n.
escaped_box() { printf '%s\\n\\nFile: %s' "$(sed -z 's/\n/\\n/g' <<<"$1" | sed 's/\\n$//')" "$2"; }

while read -r ordinal kind path; do
    label="killed at change $ordinal ($kind $path)"
    fresh_game
    watched_run killed "$ordinal"
    if ! grep -qx killed "$work/killed.events"; then
        fail "$label: the run did not get there"
        continue
    fi
    problems=()
    check_killed_game "$game" "$pristine" "$corrected" "$work/root-new" "$work/mod-new"
    boxes_after_kill "$game" "$corrected" escaped_box
    watched_run further
    [ "$(value further exit)" = 0 ] || problems+=("the further run ended with $(value further exit)")
    [ "$(tree_of "$game")" == "$expected_tree" ] ||
        problems+=("the further run left another tree: $(diff <(echo "$expected_tree") <(tree_of "$game") | grep '^[<>]' | head -3 | tr '\n' ' ')")
    [ "$(boxes_of further)" == "$(printf '%s\n' "${boxes[@]}" | sed '/^$/d')" ] ||
        problems+=("the further run showed: $(boxes_of further | tr '\n' ' ')")
    while read -r name; do
        is_side_name "$name" && problems+=("a side file stayed: $name")
    done < <(comm -13 <(echo "$expected_tree" | cut -d' ' -f1 | sort) <(tree_of "$game" | cut -d' ' -f1 | sort))
    if [ ${#problems[@]} -eq 0 ]; then pass "$label"; else fail "$label: ${problems[*]}"; fi
done <"$work/points"

e2e_summary
