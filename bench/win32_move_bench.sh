#!/bin/bash
# Moves N files (default 10,000) from one folder into another under Wine
# three ways, side by side on the same file system: a plain MoveFileExW
# loop (the baseline), the Windows item-by-item road, and the whole move
# request; prints the median seconds of each and the ratios to the loop.
# Needs the win64 build (cmake --preset win64; q8r_patcher_core built).
#
#   bench/win32_move_bench.sh [N] [RUNS]      (RUNS per way, default 5)
# BENCH_DIR (default /tmp/q8r-win32-move-bench) holds the data.
set -euo pipefail
count=${1:-10000}
runs=${2:-5}
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/win64
data=${BENCH_DIR:-/tmp/q8r-win32-move-bench}
timer=$data/win32_move_timer.exe

cmake --build "$build" --target q8r_patcher_core >/dev/null
mkdir -p "$data"
trap 'rm -rf "$data"' EXIT
x86_64-w64-mingw32-g++ -std=c++20 -O2 "$here/bench/win32_move_timer.cpp" -I"$here/patcher" -I"$here/common" \
    "$build/patcher/libq8r_patcher_core.a" "$build/avipatch/libq8r_avi_patch.a" "$build/common/libq8r_common.a" \
    -lshell32 -static -o "$timer"

winpath() { echo "Z:$1" | tr / '\\'; }
make_files() {
  rm -rf "$data/from" "$data/to"
  mkdir -p "$data/from" "$data/to"
  (cd "$data/from" && seq -f 'book%06g.str' 1 "$count" | xargs touch)
}
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }

declare -A times
for ((k = 0; k < runs; k++)); do
  for way in loop walk request; do
    make_files
    seconds=$("$here/scripts/wine-run" --no-display "$build/wineprefix" "$timer" "$way" \
        "$(winpath "$data/from")" "$(winpath "$data/to")" | tr -d '\r')
    [ "$(find "$data/to" -type f | wc -l)" = "$count" ] || { echo "win32_move_bench: $way did not move all" >&2; exit 1; }
    times[$way]="${times[$way]:-} $seconds"
  done
done

l=$(median ${times[loop]})
echo "Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), $(df -T "$data" | awk 'NR==2{print $2}'); $(/usr/lib/wine/wine64 --version 2>/dev/null || wine --version 2>/dev/null || true); $(date -u '+%Y-%m-%d %H:%M UTC'); median of $runs runs"
echo
echo "| $count files under Wine | seconds | ratio to the MoveFileExW loop |"
echo "|---|---|---|"
for way in walk request; do
  s=$(median ${times[$way]})
  printf '| %s | %.3f | %.2f |\n' "$way" "$s" "$(echo "$s / $l" | bc -l)"
done
printf '| MoveFileExW loop | %.3f | 1.00 |\n' "$l"
