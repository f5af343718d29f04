#!/bin/bash
# The mutation check: each mutant below breaks one line that keeps a
# player's data safe (a failed write, size, flush, rename or replace taken
# for success, a sync left out). Each is applied in turn to a copy of the
# tree, built incrementally in one unsanitized build folder, and run against
# the tests that must notice it. Fails when a mutant survives, when one no
# longer applies to its line, or when the tests fail without any mutant.
# Usage: scripts/mutants.sh [WORD]   only the mutants whose name holds WORD
# The copy and its build stay in build/mutants (Q8R_MUTANTS_DIR), so a
# second run rebuilds only what changed.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
work=${Q8R_MUTANTS_DIR:-$root/build/mutants}
src=$work/src
bin=$work/build
jobs=$(nproc)

# What each mutant is run against: the fault sweeps (every file call and
# allocation failed in turn; sweeps:FILTER runs those FILTER names), the
# order of a whole native run's writes (also on a file system without
# rename flags or hard links), and the Windows build's tests under Wine,
# whose fakes answer as only Windows does (win:FILTER).
sweeps="$bin/tests/q8r_fault_sweeps"
ordering="$src/tests/reliability/write_ordering.sh"
winbin=$work/win64
winfilter="FileAccessWithLocks.*:WindowsBranches.*"

# name @ file @ tests @ the line as it is @ the line mutated [@ why it is
# expected to survive for now]
mutants=$(cat <<'EOF'
replacement-write @ common/file_replacement.cpp @ sweeps:ReplacementUnderFaults.*:RewriteUnderFaults.* @ if (!files.write(replacement.file, data, size)) return false; @ files.write(replacement.file, data, size);
replacement-flush @ common/file_replacement.cpp @ sweeps:ReplacementUnderFaults.*:RewriteUnderFaults.* @ bool onDisk = files.flush(replacement.file); @ bool onDisk = (files.flush(replacement.file), true);
replacement-replace @ common/file_replacement.cpp @ sweeps:ReplacementUnderFaults.*:RewriteUnderFaults.* @ if (!files.replace(replacement.side.c_str(), replacement.target.c_str())) { @ if ((files.replace(replacement.side.c_str(), replacement.target.c_str()), false)) {
replacement-folder-sync @ common/file_replacement.cpp @ sweeps:ReplacementUnderFaults.*:RewriteUnderFaults.* @ if (files.syncFolderOf(replacement.target.c_str())) break; @ break;
replacement-sync-retry @ common/file_replacement.cpp @ sweeps:ReplacementUnderFaults.*:RewriteUnderFaults.* @ if (files.syncFolderOf(replacement.target.c_str())) break; @ files.syncFolderOf(replacement.target.c_str()); break;
copy-write @ common/file_replacement.cpp @ sweeps:CopyUnderFaults.*:PatchUnderFaults.* @ copied = got == 0 || WriteReplacement(copy, buffer, got); @ copied = got == 0 || (WriteReplacement(copy, buffer, got), true);
copy-size @ common/file_replacement.cpp @ sweeps:CopyUnderFaults.*:PatchUnderFaults.* @ copied = copied && files.size(in, &sourceSize) && total == sourceSize; @ copied = copied && (files.size(in, &sourceSize), total == sourceSize);
copy-replace @ common/file_replacement.cpp @ sweeps:CopyUnderFaults.* @ return CommitReplacement(copy); @ CommitReplacement(copy); return true;
config-size @ common/install_config.cpp @ sweeps:RewriteUnderFaults.* @ if (!Files().size(file, &size) || size >= SIZE_MAX) { @ if ((Files().size(file, &size), false) || size >= SIZE_MAX) {
config-write @ common/install_config.cpp @ sweeps:RewriteUnderFaults.* @ if (!written || !WriteReplacement(replacement, bytes.data(), bytes.size())) { @ if (!written || (WriteReplacement(replacement, bytes.data(), bytes.size()), false)) {
patch-write @ avipatch/avi_patch.cpp @ sweeps:PatchUnderFaults.* @ const bool written = WriteReplacement(run.fresh, run.buffer, filled); @ const bool written = (WriteReplacement(run.fresh, run.buffer, filled), true);
patch-replace @ avipatch/avi_patch.cpp @ sweeps:PatchUnderFaults.* @ if (!CommitReplacement(run.fresh)) { @ if ((CommitReplacement(run.fresh), false)) {
posix-copy-result @ patcher/posix_file_operations.cpp @ sweeps:CopyUnderFaults.* @ if (!copied) return false; @ ;
darkinst-reset-write @ patcher/darkinst_steps.cpp @ sweeps:RewriteUnderFaults.* @ if (!RewriteConfigFile(kDefaultDarkinst, read, rule, &opened)) { @ if ((RewriteConfigFile(kDefaultDarkinst, read, rule, &opened), false)) {
darkinst-mod-write @ patcher/darkinst_steps.cpp @ sweeps:RewriteUnderFaults.* @ if (!RewriteConfigFile(kCustomDarkinst, read, rule, &opened)) { @ if ((RewriteConfigFile(kCustomDarkinst, read, rule, &opened), false)) {
end-file-system-sync @ patcher/game_root.cpp @ ordering @ if (GameRoot) Files().syncFileSystem(GameRoot); @ ;
walk-remove-after-failed-copy @ patcher/file_walk.cpp @ sweeps:WalkUnderFaults.* @ return CopyWhole(access, item, targetFolder, true) && RemoveItem(access, item); @ return (CopyWhole(access, item, targetFolder, true), true) && RemoveItem(access, item);
walk-merge @ patcher/file_walk.cpp @ sweeps:WalkUnderFaults.* @ if (mergeable) { @ if (false) {
walk-link-at-target @ patcher/file_walk.cpp @ sweeps:WalkUnderFaults.* @ if (!existing.link && (item.link || alreadyThere)) return !item.link; @ return !item.link;
walk-second-name @ patcher/file_walk.cpp @ sweeps:WalkUnderFaults.* @ if (!existing.link && (item.link || alreadyThere)) return !item.link; @ if (item.link || alreadyThere || !existing.link) return !item.link;
fallback-name-free @ common/posix_file_access.cpp @ ordering @ if (lstat(target.c_str(), &info) == 0 || errno != ENOENT) return false; @ ;
fallback-copied-backup @ avipatch/avi_patch.cpp @ sweeps:PatchUnderFaults.* @ if (!linked && !ReplaceWithCopy(video, oldPath.c_str(), kRewriteSuffix, run.buffer, run.bufferSize)) { @ if (!linked && false) {
win-remove-answer @ patcher/win32_item_access.cpp @ win:WindowsBranches.* @ return (!item.link || ActsOnLinkItself(Wide(item.path))) && DeleteWholeName(Wide(item.path), item.folder); @ return (!item.link || ActsOnLinkItself(Wide(item.path))) && (DeleteWholeName(Wide(item.path), item.folder), true);
win-replace-fallback @ common/win32_file_replace.cpp @ win:FileAccessWithLocks.* @ if (Exists(replace.replaced) && replace.tries++ < kReplaceFileTries) { @ if (Exists(replace.replaced)) {
win-replace-on-disk @ common/win32_file_replace.cpp @ win:FileAccessWithLocks.* @ if (done) error = Exists(replace.replacement) ? ERROR_SHARING_VIOLATION : ERROR_FILE_NOT_FOUND; @ if (done) return TRUE;
win-shell-verification @ patcher/win32_file_operations.cpp @ win:WindowsBranches.* @ if (trustNone || !CopiedWhole(item, TargetOf(item, folder))) left.push_back(item); @ if (trustNone) left.push_back(item);
EOF
)

# Makes the copy hold the tree's files; only those whose bytes differ are
# written, so the build redoes only what changed.
MirrorTree() {
    python3 - "$root" "$src" <<'PY'
import filecmp, os, shutil, sys
root, src = sys.argv[1], sys.argv[2]
def files(top):
    found = set()
    for folder, dirs, names in os.walk(top):
        rel = os.path.relpath(folder, top)
        if rel == ".":
            dirs[:] = [d for d in dirs if d not in ("build", ".git")]
        for name in names:
            found.add(os.path.normpath(os.path.join(rel, name)))
    return found
wanted = files(root)
for rel in files(src) - wanted:
    os.remove(os.path.join(src, rel))
for rel in wanted:
    a, b = os.path.join(root, rel), os.path.join(src, rel)
    if not os.path.exists(b) or not filecmp.cmp(a, b, shallow=False):
        os.makedirs(os.path.dirname(b), exist_ok=True)
        shutil.copyfile(a, b)
        shutil.copymode(a, b)
PY
}

# Writes the tree's FILE into the copy with the one line that holds FROM
# (trimmed) replaced by TO, keeping its indent.
Mutate() {
    python3 - "$root/$1" "$src/$1" "$2" "$3" <<'PY'
import sys
original, path, old, new = sys.argv[1:]
lines = open(original).read().split("\n")
hits = [i for i, line in enumerate(lines) if line.strip() == old]
if len(hits) != 1:
    sys.exit(1)
line = lines[hits[0]]
lines[hits[0]] = line[:len(line) - len(line.lstrip())] + new
open(path, "w").write("\n".join(lines))
PY
}

# Builds what the tests named (sweeps, ordering) run.
Build() {
    local targets=()
    for tests in "$@"; do
        case $tests in
            sweeps*) targets+=(q8r_fault_sweeps) ;;
            ordering) targets+=(Q8RPatcher q8r-avipatch) ;;
            win*) cmake --build "$winbin" -j "$jobs" --target q8r_tests >"$work/build.log" 2>&1 || return 1 ;;
        esac
    done
    [ ${#targets[@]} -eq 0 ] || cmake --build "$bin" -j "$jobs" --target "${targets[@]}" >"$work/build.log" 2>&1
}

# 0 when the tests pass. A mutant that makes them hang is killed.
RunTests() {
    if [ "${1%%:*}" = win ]; then
        timeout -k 10 600 "$src/scripts/wine-run" --no-display "$winbin/wineprefix" "$winbin/tests/q8r_tests.exe" \
            --gtest_filter="${1#win:}" --gtest_fail_fast --gtest_brief=1 >"$work/test.log" 2>&1
    elif [ "${1%%:*}" = sweeps ]; then
        local filter='*'
        [ "$1" != sweeps ] && filter=${1#sweeps:}
        timeout -k 10 600 "$sweeps" --gtest_filter="$filter" --gtest_fail_fast --gtest_brief=1 >"$work/test.log" 2>&1
    else
        timeout -k 10 600 bash "$ordering" "$bin/patcher/Q8RPatcher" "$bin/tools/q8r-avipatch" >"$work/test.log" 2>&1
    fi
}

Trim() {
    local text=$1
    text=${text#"${text%%[![:space:]]*}"}
    printf '%s' "${text%"${text##*[![:space:]]}"}"
}

Main() {
    local only=${1:-} status=0 table="" name file tests from to reason outcome mutated=""
    mkdir -p "$src" "$bin"
    MirrorTree || { echo "mutants: cannot copy the tree to $src"; exit 2; }
    if [ ! -f "$bin/build.ninja" ]; then
        cmake -S "$src" -B "$bin" -G Ninja -DCMAKE_BUILD_TYPE= -DQ8R_SANITIZE=OFF \
            -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ >"$work/configure.log" 2>&1 ||
            { cat "$work/configure.log"; exit 2; }
    fi
    local kinds=(sweeps ordering)
    # The Windows mutants need the cross compiler and Wine.
    if command -v x86_64-w64-mingw32-g++-posix >/dev/null && { [ -x /usr/lib/wine/wine64 ] || command -v wine >/dev/null; }; then
        kinds+=("win:$winfilter")
        if [ ! -f "$winbin/build.ninja" ]; then
            cmake -S "$src" -B "$winbin" -G Ninja -DCMAKE_BUILD_TYPE=Release \
                -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-x86_64.cmake" >"$work/configure-win64.log" 2>&1 ||
                { cat "$work/configure-win64.log"; exit 2; }
        fi
    else
        echo "mutants: no mingw-w64 or Wine here (scripts/install-deps.sh --windows): the win-* mutants are left out"
        mutants=$(grep -v '^win-' <<<"$mutants")
    fi
    Build "${kinds[@]}" || { tail -40 "$work/build.log"; echo "mutants: the unmutated tree does not build"; exit 2; }
    for tests in "${kinds[@]}"; do
        RunTests "$tests" || { tail -40 "$work/test.log"; echo "mutants: the tests fail without a mutant"; exit 2; }
    done

    while IFS='@' read -r name file tests from to reason; do
        name=$(Trim "$name"); file=$(Trim "$file"); tests=$(Trim "$tests")
        from=$(Trim "$from"); to=$(Trim "$to"); reason=$(Trim "${reason:-}")
        case "$name" in *"$only"*) ;; *) continue ;; esac
        # A file is put back, with a fresh time so that the next build
        # compiles it again, once its mutants are done.
        [ -n "$mutated" ] && [ "$mutated" != "$file" ] && cp "$root/$mutated" "$src/$mutated"
        mutated=$file
        if ! Mutate "$file" "$from" "$to"; then
            outcome="gone: $file no longer holds its line once"
            status=1
        elif ! Build "$tests"; then
            outcome="does not build: mend the mutation"
            status=1
        elif RunTests "$tests"; then
            if [ -n "$reason" ]; then
                outcome="survived, expected for now: $reason"
            else
                outcome="SURVIVED"
                status=1
            fi
        else
            outcome="killed"
            [ -n "$reason" ] && outcome="killed (marked to survive: take the mark off)"
        fi
        table+=$(printf '%-24s %-36s %s' "$name" "$file" "$outcome")$'\n'
        echo "mutant $name: $outcome"
    done <<<"$mutants"
    [ -n "$mutated" ] && cp "$root/$mutated" "$src/$mutated"

    echo
    printf '%-24s %-36s %s\n' mutant file outcome
    printf '%s' "$table"
    return $status
}

# Read whole before it runs, so the script may change while it does.
Main "$@"
exit $?
