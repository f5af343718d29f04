#!/bin/bash
# Makes patches for real file pairs with `q8r-avipatch make`, `xdelta3 -e -9
# -S none` (no secondary compression, as our format has none) and bsdiff,
# applies every patch and compares the result, and writes the table of
# sizes, times and peak memory into docs/benchmarks.md.
#
#   bench/tool_bench.sh [RUNS]      (make runs per tool, median; default 3)
#
# The pairs: an MJPEG AVI rendered by ffmpeg from its own test source and its
# re-render with 2 s of frames changed and 1 s inserted (bit-exact encoder,
# so unchanged frames come out byte for byte the same), and libstdc++-6.dll
# of mingw-w64's win32-thread and posix-thread builds, x86_64 and i686.
# BENCH_DIR (default /tmp/q8r-tool-bench) holds the data; KEEP=1 keeps it.
set -euo pipefail
runs=${1:-3}
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/bench
data=${BENCH_DIR:-/tmp/q8r-tool-bench}
doc=$here/docs/benchmarks.md

missing=()
for tool in ffmpeg:ffmpeg xdelta3:xdelta3 bsdiff:bsdiff /usr/bin/time:time python3:python3; do
  command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "tool_bench: install ${missing[*]} (as root)" >&2; exit 1; }
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQ8R_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target q8r-avipatch >/dev/null
tool=$build/tools/q8r-avipatch

mkdir -p "$data"
cd "$data"
trap '[ "${KEEP:-0}" = 1 ] || rm -rf "$data"' EXIT

# 28 s of testsrc2 at 640x360; the re-render draws a box over 8-10 s and
# puts the source's next second (28-29 s) in at 18 s.
bitexact=(-fflags +bitexact -flags:v +bitexact -map_metadata -1 -c:v mjpeg -q:v 3)
if [ ! -f cutscene.avi ]; then
  ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=25:duration=28 "${bitexact[@]}" cutscene.avi
  ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=25:duration=29 -filter_complex \
    "[0:v]split=3[a][b][c];[a]trim=0:18,setpts=PTS-STARTPTS,drawbox=x=40:y=40:w=200:h=120:color=red:t=fill:enable='between(t,8,10)'[a1];[b]trim=18:28,setpts=PTS-STARTPTS[b1];[c]trim=28:29,setpts=PTS-STARTPTS[c1];[a1][c1][b1]concat=n=3[v]" \
    -map "[v]" "${bitexact[@]}" cutscene-fixed.avi
fi
newest() { ls -d "$@" 2>/dev/null | sort -V | tail -1; }
pairs=("AVI cutscene, MJPEG|cutscene.avi|cutscene-fixed.avi")
for arch in x86_64 i686; do
  win32=$(newest /usr/lib/gcc/$arch-w64-mingw32/*-win32)/libstdc++-6.dll
  posix=$(newest /usr/lib/gcc/$arch-w64-mingw32/*-posix)/libstdc++-6.dll
  [ -f "$win32" ] && [ -f "$posix" ] || { echo "tool_bench: no $arch mingw-w64 libstdc++-6.dll pair" >&2; exit 1; }
  pairs+=("libstdc++-6.dll win32 → posix threads, $arch|$win32|$posix")
done

# Seconds and peak KiB of one run, as "s kib" in $REPLY; the output goes to run.log.
measure() {
  /usr/bin/time -o time.out -f "%e %M" "$@" >run.log 2>&1
  REPLY=$(tail -1 time.out)
}
# Median seconds and largest peak of $runs runs.
measure_runs() {
  local times=() peak=0
  for ((k = 0; k < runs; k++)); do
    measure "$@"
    times+=("${REPLY% *}")
    ((${REPLY#* } > peak)) && peak=${REPLY#* }
  done
  REPLY="$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p") $peak"
}
same() { cmp -s "$1" "$2" || { echo "tool_bench: $3 does not rebuild the corrected file" >&2; exit 1; }; }

# xdelta3's own choice of copies and adds, priced in our format: its copies
# from the original may stay copies (12 bytes) or turn literal; its adds and
# its copies from the output it has already written (which our format has no
# way to say) are literal bytes (8 per entry plus the bytes).
reprice() {
  xdelta3 printdelta "$1" | python3 -c '
import re, sys
copy, literal = 0, float("inf")
for line in sys.stdin:
    words = line.split()
    if len(words) < 4 or not re.fullmatch(r"\d+", words[0]):
        continue
    words, k = words[2:], 0
    while k < len(words):
        if words[k] in ("ADD", "RUN"):
            source, size, k = False, int(words[k + 1]), k + 2
        elif words[k].startswith("CPY"):
            source, size, k = words[k + 2].startswith("S"), int(words[k + 1]), k + 3
        else:
            k += 1
            continue
        copy, literal = (min(copy, literal) + 12 if source else float("inf")), min(literal, copy + 8) + size
print(32 + min(copy, literal))'
}

mib() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }
kb() { awk -v b="$1" 'BEGIN { printf "%.0f", b / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

table="| pair | sizes (MB) | ours KB | xdelta3 KB | bsdiff KB | ours / xdelta3 | xdelta3's copies in our format KB | make s: ours / xdelta3 / bsdiff | peak MiB: ours / xdelta3 / bsdiff |
|---|---|---|---|---|---|---|---|---|"
for pair in "${pairs[@]}"; do
  IFS='|' read -r name original corrected <<<"$pair"
  measure_runs "$tool" make "$original" "$corrected" ours.upd
  ours=($REPLY)
  measure_runs xdelta3 -e -9 -S none -f -s "$original" "$corrected" theirs.vcdiff
  xdelta=($REPLY)
  measure bsdiff "$original" "$corrected" theirs.bsdiff
  bsd=($REPLY)

  cp "$original" video.avi
  rm -f video.avi.old
  "$tool" apply video.avi ours.upd >/dev/null
  same video.avi "$corrected" "q8r-avipatch apply"
  xdelta3 -d -f -s "$original" theirs.vcdiff out
  same out "$corrected" "xdelta3 -d"
  bspatch "$original" out theirs.bsdiff
  same out "$corrected" bspatch

  size=$(stat -c %s ours.upd)
  sizes="$(awk -v a="$(stat -c %s "$original")" -v b="$(stat -c %s "$corrected")" 'BEGIN { printf "%.1f → %.1f", a / 1e6, b / 1e6 }')"
  table+="
| $name | $sizes | $(kb "$size") | $(kb "$(stat -c %s theirs.vcdiff)") | $(kb "$(stat -c %s theirs.bsdiff)") | $(ratio "$size" "$(stat -c %s theirs.vcdiff)") | $(kb "$(reprice theirs.vcdiff)") | ${ours[0]} / ${xdelta[0]} / ${bsd[0]} | $(mib "${ours[1]}") / $(mib "${xdelta[1]}") / $(mib "${bsd[1]}") |"
done

stamp="Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), $(free -g | awk '/Mem:/{print $2}') GiB; $(date -u '+%Y-%m-%d %H:%M UTC'); $(xdelta3 -V 2>&1 | head -1 | cut -d, -f1); median of $runs makes, one bsdiff."
echo "$stamp"
echo
echo "$table"
python3 - "$doc" "$stamp" "$table" <<'EOF'
import sys
path, stamp, table = sys.argv[1:]
text = open(path).read()
begin, end = "<!-- tool_bench: begin -->", "<!-- tool_bench: end -->"
head, rest = text.split(begin)
_, tail = rest.split(end)
open(path, "w").write(head + begin + "\n" + stamp + "\n\n" + table + "\n" + end + tail)
EOF
