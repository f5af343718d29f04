#!/bin/bash
# Builds the release archives twice, from two copies of this tree in folders
# of different names and lengths, and compares them byte for byte: a player
# or packager who rebuilds a release must get the archive we published.
# Usage: scripts/check-reproducible.sh [PRESET...]   (default: win64 win32 linux)
# Only the programs are built (no tests), so it costs a few minutes.
set -eu
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win64 win32 linux)

work=$(mktemp -d)
# A background child killed before it execs would run this too and
# take the scratch folder from under the script.
trap '[ "$BASHPID" = "$$" ] && { rm -rf "$work"; }' EXIT
# The tree as it stands, tracked files only: no build folder comes along.
copies=("$work/a" "$work/second-copy-of-the-tree")
for copy in "${copies[@]}"; do
  mkdir -p "$copy"
  git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$copy"
done

jobs=$(nproc)
failed=0
for preset in "${presets[@]}"; do
  for copy in "${copies[@]}"; do
    (cd "$copy" && cmake --preset "$preset" -DQ8R_BUILD_TESTS=OFF >/dev/null &&
      cmake --build --preset "$preset" -j "$jobs" --target release >"$copy/$preset.log" 2>&1) ||
      { echo "reproducible: the $preset release does not build in $copy:"; tail -20 "$copy/$preset.log"; exit 1; }
  done
  compared=0
  for archive in "${copies[0]}/build/$preset/release/"*.{zip,tar.gz}; do
    [ -f "$archive" ] || continue
    compared=$((compared + 1))
    name=$(basename "$archive")
    if cmp "$archive" "${copies[1]}/build/$preset/release/$name"; then
      echo "reproducible: $name ($(sha256sum <"$archive" | cut -c1-16)...)"
    else
      failed=1
    fi
  done
  [ $compared -gt 0 ] || { echo "reproducible: the $preset build made no archive"; failed=1; }
done
exit $failed
