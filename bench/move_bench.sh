#!/bin/bash
# Moves N books (default 100,000) out of q8r/books/english with Q8RPatcher's
# book step, and the same items with a plain loop of rename(2) (one listing,
# one rename per item) on the same file system; prints the median seconds of
# each and their ratio. The patcher's run is the whole program on a game
# folder that holds nothing else, so its other steps find nothing to do.
#
#   bench/move_bench.sh [N] [RUNS]      (RUNS per command, default 3)
# BENCH_DIR (default /tmp/q8r-move-bench) holds the data.
set -euo pipefail
count=${1:-100000}
runs=${2:-3}
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/bench
data=${BENCH_DIR:-/tmp/q8r-move-bench}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQ8R_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target Q8RPatcher rename_loop >/dev/null
patcher=$build/patcher/Q8RPatcher
loop=$build/bench/rename_loop

mkdir -p "$data"
trap 'rm -rf "$data"' EXIT
books=$data/game/q8r/books

make_books() {
  rm -rf "$data/game"
  mkdir -p "$books/english"
  (cd "$books/english" && seq -f 'book%06g.str' 1 "$count" | xargs touch)
  sync
}

moved_all() {
  [ "$(find "$books" -maxdepth 1 -type f | wc -l)" = "$count" ] && [ -z "$(ls -A "$books/english")" ]
}

# Seconds of one command, in $REPLY.
measure() {
  local start=$EPOCHREALTIME
  "$@" </dev/null >/dev/null 2>&1 || true
  REPLY=$(echo "$EPOCHREALTIME - $start" | bc)
}

median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }

patcher_times=() loop_times=()
for ((k = 0; k < runs; k++)); do
  make_books
  cd "$data/game"
  measure "$patcher"
  cd "$here"
  moved_all || { echo "move_bench: the patcher did not move every book" >&2; exit 1; }
  patcher_times+=("$REPLY")
  make_books
  measure "$loop" "$books/english" "$books"
  moved_all || { echo "move_bench: the rename loop did not move every book" >&2; exit 1; }
  loop_times+=("$REPLY")
done

p=$(median "${patcher_times[@]}")
l=$(median "${loop_times[@]}")
echo "Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), $(df -T "$data" | awk 'NR==2{print $2}'); $(date -u '+%Y-%m-%d %H:%M UTC'); median of $runs runs"
echo
echo "| $count books | seconds | ratio to the rename loop |"
echo "|---|---|---|"
printf '| Q8RPatcher (book step, whole run) | %.3f | %.2f |\n' "$p" "$(echo "$p / $l" | bc -l)"
printf '| rename(2) loop | %.3f | 1.00 |\n' "$l"
