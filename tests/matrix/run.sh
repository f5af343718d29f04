#!/bin/bash
# The differential matrix: generated game folders through the native patcher
# and Q8RPatcher.exe under Wine, on the local file system and, as root, on
# NTFS, exFAT and FAT32 images made for the run and a folder served over SSH
# and SMB (an sshd or smbd of its own on 127.0.0.1, stopped by its process
# id, mounted with sshfs or smbnetfs), each where the host can mount it. Differences print as a table;
# faults already filed print as "known".
#
# Usage: tests/matrix/run.sh [--seed N] [--count M] [--first I] [--fs local,ntfs,exfat,fat32,sshfs,smb]
#                            [--reduce] [--keep] [--native PATCHER] [--tool Q8R-AVIPATCH]
#                            [--win64 BUILD_DIR] [--win32 BUILD_DIR]
# By default it takes the builds it finds under build/ (native, win64, win32).
set -u
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
. "$src/tests/e2e/e2e_lib.sh"
run_isolated "$0" "$@"

defaults=()
args=" $* "
[[ $args == *" --native "* ]] || [ ! -x "$src/build/native/patcher/Q8RPatcher" ] ||
    defaults+=(--native "$src/build/native/patcher/Q8RPatcher")
[[ $args == *" --tool "* ]] || defaults+=(--tool "$src/build/native/tools/q8r-avipatch")
for arch in win64 win32; do
    [[ $args == *" --$arch "* ]] || [ ! -f "$src/build/$arch/tests/wine/patcher_driver.exe" ] ||
        defaults+=(--"$arch" "$src/build/$arch")
done
exec python3 "$here/run.py" "${defaults[@]}" "$@"
