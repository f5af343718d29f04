#!/bin/bash
# The books step's move on overlayfs (how container and Flatpak setups show
# a game), where a folder of the lower layer cannot be renamed: every
# folder inside english must still reach its place. Skipped (77) where the
# host cannot mount overlayfs.
#   overlay_move.sh WINE_RUN PREFIX MOVE_DRIVER
set -u
wine_run=$1 prefix=$2 driver=$3
work=$(mktemp -d /tmp/q8r-overlay.XXXXXX)
trap 'umount "$work/merged" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work"/{lower,upper,work,merged}
english=$work/lower/game/q8r/books/english
mkdir -p "$english/sub/deeper" "$english/other"
echo a >"$english/a.str"; echo b >"$english/sub/b.str"; echo c >"$english/sub/deeper/c.str"
echo d >"$english/other/d.str"
mount -t overlay overlay -o "lowerdir=$work/lower,upperdir=$work/upper,workdir=$work/work" "$work/merged" \
    2>/dev/null || { echo "overlayfs cannot be mounted here"; exit 77; }
books='Z:'$(echo "$work/merged/game/q8r/books" | tr / '\\')
"$wine_run" --no-display "$prefix" "$driver" "$books\\english\\*" "$books\\" || exit 1
books=$work/merged/game/q8r/books
found=$(cd "$books" && find . | sort | tr '\n' ' ')
expected='. ./a.str ./english ./other ./other/d.str ./sub ./sub/b.str ./sub/deeper ./sub/deeper/c.str '
[ "$found" = "$expected" ] || { echo "found: $found"; exit 1; }
