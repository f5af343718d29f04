#!/bin/bash
# Applies a patch to a 256 MiB original, with large and with 4 KiB segments,
# beside dd conv=fsync, cp, xdelta3 -d and bspatch producing the same output
# size from the same edit; every output is synced before its clock stops.
# Also times `q8r-avipatch make` on 1 % scattered edits and the checksum
# microbenchmark. Prints a Markdown table of medians and ratios to dd.
#
#   bench/apply_bench.sh [RUNS]      (RUNS per command, default 5)
# BENCH_DIR (default /tmp/q8r-bench) holds the data; KEEP=1 keeps it.
set -euo pipefail
runs=${1:-5}
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/bench
data=${BENCH_DIR:-/tmp/q8r-bench}
size_mib=256

for tool in xdelta3 bsdiff bspatch /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "apply_bench: $tool is missing" >&2; exit 1; }
done

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQ8R_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target q8r-avipatch checksum_bench >/dev/null
tool=$build/tools/q8r-avipatch

mkdir -p "$data"
cd "$data"
trap '[ "${KEEP:-0}" = 1 ] || rm -rf "$data"' EXIT

# One original and two edits of it: `clustered` changes 1 % of the bytes in
# one 10 KiB overwrite per MiB plus an insertion and a deletion every 32 MiB
# (copy segments stay long); `scattered` changes one byte in every 100.
if [ ! -f original ]; then
  head -c $((size_mib << 20)) /dev/urandom > original
  python3 - <<'EOF'
import random
random.seed(7)
data = bytearray(open("original", "rb").read())
scattered = bytearray(data)
for start in range(0, len(scattered) - 100, 100):
    scattered[start + random.randrange(100)] ^= 0x5A
open("scattered", "wb").write(scattered)
mib = 1 << 20
clustered = bytearray(data)
for start in range(0, len(clustered), mib):
    at = start + random.randrange(mib - 10240)
    clustered[at:at + 10240] = random.randbytes(10240)
pieces, last = [], 0
for start in range(16 * mib, len(clustered), 32 * mib):
    pieces.append(clustered[last:start]); pieces.append(random.randbytes(4096)); last = start
    pieces.append(clustered[last:start + mib]); last = start + mib + 4096
pieces.append(clustered[last:])
open("clustered", "wb").write(b"".join(pieces))
EOF
fi

# Seconds and peak kilobytes of one command, written to $REPLY as "s kb".
measure() {
  local start=$EPOCHREALTIME
  /usr/bin/time -o time.out -f "%M" "$@" >/dev/null 2>&1
  local end=$EPOCHREALTIME
  REPLY="$(echo "$end - $start" | bc) $(tail -1 time.out)"
}

declare -A seconds memory
# Runs a command $runs times and keeps the median time and the largest peak.
run() {
  local name=$1 prepare=$2; shift 2
  local times=() peak=0
  for ((k = 0; k < runs; k++)); do
    eval "$prepare"
    sync
    measure "$@"
    times+=("${REPLY% *}")
    local kb=${REPLY#* }
    ((kb > peak)) && peak=$kb
  done
  seconds[$name]=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
  memory[$name]=$peak
}

make_start=$(date +%s.%N)
"$tool" make original scattered scattered.upd >/dev/null
make_seconds=$(echo "$(date +%s.%N) - $make_start" | bc)
"$tool" make original clustered large.upd >/dev/null
"$tool" make --max-segment 4096 original clustered small.upd >/dev/null
[ -f clustered.vcdiff ] || xdelta3 -e -f -B 536870912 -s original clustered clustered.vcdiff
[ -f clustered.bsdiff ] || bsdiff original clustered clustered.bsdiff

fresh='rm -f video.avi video.avi.old video.avi.new out; cp original video.avi'
run "q8r apply, large segments" "$fresh" sh -c "'$tool' apply video.avi large.upd && sync video.avi"
cmp -s video.avi clustered || { echo "apply_bench: the applied video differs" >&2; exit 1; }
run "q8r apply, 4 KiB segments" "$fresh" sh -c "'$tool' apply video.avi small.upd && sync video.avi"
cmp -s video.avi clustered || { echo "apply_bench: the applied video differs" >&2; exit 1; }
run "dd bs=1M conv=fsync" "$fresh" sh -c "dd if=clustered of=out bs=1M conv=fsync status=none && sync out"
run "cp" "$fresh" sh -c "cp clustered out && sync out"
run "xdelta3 -d" "$fresh" sh -c "xdelta3 -d -f -s original clustered.vcdiff out && sync out"
cmp -s out clustered || { echo "apply_bench: xdelta3's output differs" >&2; exit 1; }
run "bspatch" "$fresh" sh -c "bspatch original out clustered.bsdiff && sync out"
cmp -s out clustered || { echo "apply_bench: bspatch's output differs" >&2; exit 1; }

base=${seconds["dd bs=1M conv=fsync"]}
echo "Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), $(free -g | awk '/Mem:/{print $2}') GiB; $(date -u '+%Y-%m-%d %H:%M UTC'); median of $runs runs"
echo
echo "| command (256 MiB output, synced) | seconds | ratio to dd | peak RSS MiB |"
echo "|---|---|---|---|"
for name in "q8r apply, large segments" "q8r apply, 4 KiB segments" "dd bs=1M conv=fsync" "cp" "xdelta3 -d" "bspatch"; do
  printf '| %s | %.3f | %.2f | %d |\n' "$name" "${seconds[$name]}" "$(echo "${seconds[$name]} / $base" | bc -l)" \
    $(( ${memory[$name]} / 1024 ))
done
echo
echo "Patch sizes: large $(stat -c %s large.upd), 4 KiB $(stat -c %s small.upd), xdelta3 $(stat -c %s clustered.vcdiff), bsdiff $(stat -c %s clustered.bsdiff) bytes"
changed=$( (cmp -l original scattered || true) | wc -l)
echo "make, 1 % scattered edits ($changed bytes changed): ${make_seconds} s, patch $(stat -c %s scattered.upd) bytes"
echo
"$build/bench/checksum_bench" --benchmark_min_time=0.2 2>/dev/null | grep -E "^BM_"
