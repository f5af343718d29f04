#!/bin/bash
# Records the system calls of a whole native patcher run over a v1.0 game
# folder (strace -f -y) and checks them against the ordering rules that keep
# a crash at any moment from losing a file (check_write_ordering.py): every
# rename over a name follows a flush of the new file, every folder that
# gained or lost a name is synced before the run ends, nothing is created or
# truncated through a link at its final name, no wildcard is looked up as a
# name, and only the file systems the run wrote are synced; the same on a
# file system without rename flags or hard links.
# Usage: write_ordering.sh PATCHER PATCH_TOOL
set -u
patcher=$(realpath "$1")
tool=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../e2e/e2e_lib.sh"

scratch=$(mktemp -d)
# A background child killed before it execs would run this too and
# take the scratch folder from under the script.
trap '[ "$BASHPID" = "$$" ] && { rm -rf "$scratch"; }' EXIT
# LeakSanitizer stops the world with ptrace, which fails under strace.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0

game=$scratch/game
"$e2e_here/make_game_folder.sh" "$game" "$tool" "$scratch/corrected" >/dev/null || exit 2
# A second run's work too: a Darkinst.cfg left in the mod folder, saves to merge.
traced=open,openat,creat,write,pwrite64,ftruncate,fsync,fdatasync,syncfs,sync,newfstatat,statx,lstat,stat,rename,renameat,renameat2,link,linkat,symlink,symlinkat,unlink,unlinkat,mkdir,mkdirat,rmdir
for run in first second; do
    (cd "$game" && strace -f -y -s 4096 -o "$scratch/trace-$run" -e trace=$traced "$patcher" </dev/null >/dev/null 2>&1)
    check "the $run traced run ends with 0" 0 $?
    check "the $run run keeps the ordering rules" "" "$(python3 "$here/check_write_ordering.py" "$scratch/trace-$run" "$game")"
    # A network mount answers a name holding "*" with an error for the whole mount.
    check "the $run run looks up no wildcard as a name" "" \
        "$(grep -E '^[0-9]+ +(newfstatat|statx|l?stat|open|openat)\([^"]*"[^"]*[*?]' "$scratch/trace-$run" | head -3)"
    # A sync waits on every mount of the machine, a hung network one too.
    check "the $run run syncs the file systems it wrote, not the machine" "" \
        "$(grep -E '^[0-9]+ +sync\(\)' "$scratch/trace-$run" | head -1)"
done
check "the run was recorded" yes "$(grep -q 'rename' "$scratch/trace-first" && echo yes)"

# A file system with neither rename flags nor hard links (exFAT, FAT, many
# FUSE and network mounts), as strace makes one: the rename that must never
# replace then looks whether the name is free first. A root this long has no
# room for the delete before the mod's Darkinst.cfg step, so a second run
# finds the first run's file there: it stays, and the box says why.
base=$scratch/plain
root=$base/$(printf 'r%.0s' $(seq $((245 - ${#base} - 1))))
"$e2e_here/make_game_folder.sh" "$root" "$tool" "$scratch/plain-corrected" >/dev/null || exit 2
refuse="renameat2:error=EINVAL -e inject=link,linkat:error=EPERM"
for run in first second; do
    (cd "$root" && strace -f -y -s 4096 -o "$scratch/plain-$run" -e trace=$traced -e inject=$refuse "$patcher" \
        </dev/null >/dev/null 2>"$scratch/plain-$run.err")
    check "without rename flags or links, the $run run ends with 0" 0 $?
    check "without rename flags or links, the $run run keeps the ordering rules" "" \
        "$(python3 "$here/check_write_ordering.py" "$scratch/plain-$run" "$root")"
    [ $run = first ] && cp "$root/q8r/Darkinst.cfg" "$scratch/plain-darkinst"
done
check "the first run's Darkinst.cfg is not replaced" "" "$(cmp "$scratch/plain-darkinst" "$root/q8r/Darkinst.cfg" 2>&1)"
check "the second run says why" yes "$(grep -q 'Failed to create custom Darkinst file.' "$scratch/plain-second.err" && echo yes)"
e2e_summary
