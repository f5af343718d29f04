#!/bin/bash
# Kills Q8RPatcher with SIGKILL at chosen system calls while it migrates a
# v1.0 game folder whose CS27.avi is tens of MiB, and checks after every kill
# that nothing was lost and that a further run finishes the migration.
#
# Usage: kill_points.sh PATCHER PATCH_TOOL [ci|quick|all|N]
#   ci (default):    the test suite's bounded share:
#                    a CS27.avi of 12 MiB, 6 calls spread over each of the
#                    three windows below and 8 over the rest of the run;
#   quick:           every call inside the swap of CS27.avi and inside both
#                    Darkinst.cfg rewrites, and 40 more spread over the
#                    rest of the run;
#   all:             every call that changes state (each open for writing,
#                    write, fsync, close of a written file, rename, link,
#                    unlink, mkdir...), and every call inside those windows;
#   N:               the windows and N spread points.
# All but ci take a CS27.avi of 40 MiB.
#
# How a point is hit: strace injects SIGKILL on entry to the n-th call of one
# system call (-e inject=NAME:signal=KILL:when=n), so the call itself never
# runs: the kill lands between two traced calls. The calls are counted first
# in an uninterrupted traced run; the run is deterministic, so the n-th call
# is the same one each time. Each point must really kill the patcher.
#
# After each kill: every video's name holds the original or the complete
# corrected file; the game root's Darkinst.cfg is the old or the new one; the
# mod's Darkinst.cfg is absent, the unedited copy of install.cfg or the new
# one. Then a normal run must end with 0 and leave exactly the tree and bytes
# of an uninterrupted run; its only allowed boxes say that a video is already
# patched (a video swapped in before the kill whose patch data survived).
set -u
if [ $# -lt 2 ]; then
    sed -n '2,31p' "$0" >&2
    exit 2
fi
patcher=$(realpath "$1")
tool=$(realpath "$2")
mode=${3:-ci}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../e2e/e2e_lib.sh"
run_isolated "$0" "$@"

if ! command -v strace >/dev/null || ! command -v openssl >/dev/null; then
    echo "kill_points.sh: strace and openssl are needed" >&2
    exit 2
fi

scratch=$(mktemp -d)
# A background child killed before it execs would run this too and
# take the scratch folder from under the script.
trap '[ "$BASHPID" = "$$" ] && { rm -rf "$scratch"; }' EXIT
trap 'exit 1' INT TERM
export TMPDIR=$scratch
# LeakSanitizer stops the world with ptrace, which fails under strace; the
# leak check is the unit tests' business.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0

mapfile -t side_suffixes < <(sed -n 's/^inline constexpr char k[A-Za-z]*Suffix\[\] = "\(.*\)";$/\1/p' "$here/../../common/side_names.h")
[ ${#side_suffixes[@]} -gt 5 ] || { echo "kill_points.sh: no side names in common/side_names.h" >&2; exit 2; }
traced=openat,write,fsync,fdatasync,rename,renameat,renameat2,link,linkat,unlink,unlinkat,close,mkdir,mkdirat,rmdir,symlink,symlinkat,ftruncate,utimensat
game=$scratch/game

# --- the inputs ------------------------------------------------------------
pristine=$scratch/pristine
"$e2e_here/make_game_folder.sh" "$pristine" "$tool" "$scratch/corrected" >/dev/null || exit 2
big=$pristine/q8r/movies/CS27.avi
# More than the engine's write-back stretch of 8 MiB either way.
size=$((40 << 20))
[ "$mode" = ci ] && size=$((12 << 20))
# Bytes that do not compress, the same every time.
openssl enc -aes-128-ctr -K 0123456789abcdef0123456789abcdef -iv 0 -nosalt </dev/zero 2>/dev/null | head -c $size >"$big"
# The corrected cut: a title card inserted, frames rewritten, the tail
# shortened, so that its size differs from the original's.
quarter=$((size / 4))
{
    head -c $quarter "$big"
    for i in $(seq 200); do printf 'inserted title card %04d ' "$i"; done
    tail -c +$((quarter + 1)) "$big" | head -c $((size - quarter - 9000))
} >"$scratch/corrected/CS27.avi"
for share in 2 17 48 79 91; do
    offset=$((size / 100 * share))
    printf 'CORRECTED FRAME AT %010d .....' "$offset" |
        dd of="$scratch/corrected/CS27.avi" bs=1 seek="$offset" conv=notrunc status=none
done
# The game folder came with a patch for the old CS27.avi: replaced.
"$tool" make --force "$big" "$scratch/corrected/CS27.avi" "$big.upd" >/dev/null || exit 2

# run_in DIR COMMAND...: runs the command there; sets code, err.
run_in() {
    local dir=$1; shift
    ( (cd "$dir" && "$@" </dev/null >"$scratch/out" 2>"$scratch/err") ) 2>/dev/null
    code=$?
    err=$(cat "$scratch/err")
}

fresh_game() { rm -rf "$game" && cp -a "$pristine" "$game"; }

# --- an uninterrupted run, and the counting run ------------------------------
fresh_game
run_in "$game" "$patcher"
if [ "$code" != 0 ] || [ -n "$err" ]; then
    echo "kill_points.sh: the uninterrupted run failed ($code): $err" >&2
    exit 1
fi
expected_tree=$(tree_of "$game")
cp "$game/q8r/Darkinst.cfg" "$scratch/mod-new"
cp "$game/Darkinst.cfg" "$scratch/root-new"
cmp -s "$game/q8r/movies/CS27.avi" "$scratch/corrected/CS27.avi" || { echo "CS27.avi not corrected" >&2; exit 1; }

fresh_game
run_in "$game" strace -f -o "$scratch/trace" -s 80 -e trace=$traced "$patcher"
check "the traced run ends like an uninterrupted one" "$expected_tree" "$(tree_of "$game")"

# One line per point: NAME ORDINAL window|spread WHERE, in the order of the run. Window
# calls are all taken; elsewhere only calls that change state.
awk -v q='"' '
    function window_of(n) {
        for (w in first) if (n >= first[w] && n <= last[w]) return w
        return ""
    }
    NR == FNR {
        if ($0 ~ /"Darkinst\.cfg\.q8r-tmp"/) { if (!("root Darkinst.cfg rewrite" in first)) first["root Darkinst.cfg rewrite"] = FNR; last["root Darkinst.cfg rewrite"] = FNR + 3 }
        if (tolower($0) ~ /q8r\/darkinst\.cfg/) { if (!("mod Darkinst.cfg rewrite" in first)) first["mod Darkinst.cfg rewrite"] = FNR; last["mod Darkinst.cfg rewrite"] = FNR + 3 }
        if ($0 ~ /CS27\.avi\.old/ && !("CS27.avi swap" in first)) first["CS27.avi swap"] = FNR
        if ($0 ~ /CS27\.avi\.upd/) last["CS27.avi swap"] = FNR
        next
    }
    {
        call = $2
        sub(/\(.*/, "", call)
        if (call !~ /^[a-z0-9_]+$/) next
        ordinal = ++count[call]
        result = $NF
        w = window_of(FNR)
        changes = 0
        if (call == "openat" && $0 ~ /O_CREAT|O_TRUNC|O_WRONLY|O_RDWR/) { changes = 1; writable[result] = 1 }
        else if (call == "close") { fd = $2; sub(/^close\(/, "", fd); sub(/\).*/, "", fd); if (fd in writable) { changes = 1; delete writable[fd] } }
        else if (call != "openat") changes = 1
        if (w != "") print call, ordinal, "window", w
        else if (changes) print call, ordinal, "spread", step
        if (call == "write" && $0 ~ /write\(1, "/) {
            step = $0
            sub(/^[^"]*"(Current Operation: )?/, "", step)
            sub(/(\.\.\.)?( [0-9]+%)?(\\n)?".*/, "", step)
        }
    }' "$scratch/trace" "$scratch/trace" >"$scratch/points-all"

# pick N PATTERN: N of the points that match, spread evenly over the run.
pick() {
    grep "$2" "$scratch/points-all" |
        awk -v n="$1" '{ line[NR] = $0 } END { for (k = 0; k < n && NR > 0; k++) print line[int(k * NR / n) + 1] }' |
        sort -u
}
grep ' window ' "$scratch/points-all" >"$scratch/points"
spread=40
case $mode in
    ci) spread=8
        for where in "root Darkinst.cfg rewrite" "mod Darkinst.cfg rewrite" "CS27.avi swap"; do
            pick 6 " window $where\$"
        done >"$scratch/points" ;;
    quick) ;;
    all) spread=0; cp "$scratch/points-all" "$scratch/points" ;;
    *[!0-9]*) echo "kill_points.sh: mode must be ci, quick, all or a number" >&2; exit 2 ;;
    *) spread=$mode ;;
esac
[ "$spread" -gt 0 ] && pick "$spread" " spread " >>"$scratch/points"
echo "$(wc -l <"$scratch/points-all") candidate points in the run; trying $(wc -l <"$scratch/points")"

# --- the kills --------------------------------------------------------------
tried=0 survived=0 not_reached=0
stderr_box() { printf '[Video Patch Error]\n%s\n\nFile: %s\n' "$1" "$2"; }

while read -r call ordinal kind where; do
    tried=$((tried + 1))
    label="$call #$ordinal (${where:-start})"
    fresh_game
    run_in "$game" strace -f -o /dev/null -e trace="$call" -e inject="$call:signal=KILL:when=$ordinal" "$patcher"
    if [ "$code" != 137 ]; then
        not_reached=$((not_reached + 1))
        fail "$label: the patcher was not killed there (exit $code)"
        continue
    fi
    problems=()
    check_killed_game "$game" "$pristine" "$scratch/corrected" "$scratch/root-new" "$scratch/mod-new"
    boxes_after_kill "$game" "$scratch/corrected" stderr_box
    run_in "$game" "$patcher"
    [ "$code" = 0 ] || problems+=("the further run ended with $code")
    [ "$(tree_of "$game")" == "$expected_tree" ] || problems+=("the further run left another tree: $(diff <(echo "$expected_tree") <(tree_of "$game") | grep '^[<>]' | head -3 | tr '\n' ' ')")
    [ "$err" == "$(printf '%s\n' "${boxes[@]}")" ] || problems+=("the further run showed: $err")
    # Named on their own: a side name of either platform (common/side_names.h)
    # that the further run did not clear.
    while read -r name; do
        for suffix in "${side_suffixes[@]}"; do
            [[ $name == *"$suffix" ]] && problems+=("a side file stayed: $name")
        done
    done < <(comm -13 <(echo "$expected_tree" | cut -d' ' -f1 | sort) <(tree_of "$game" | cut -d' ' -f1 | sort))
    if [ ${#problems[@]} -eq 0 ]; then
        survived=$((survived + 1))
        pass "$label"
    else
        fail "$label: ${problems[*]}"
    fi
done <"$scratch/points"

echo "kill points tried: $tried, survived: $survived, not reached: $not_reached"
e2e_summary
