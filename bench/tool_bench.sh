#!/bin/bash
# What players download and wait for: makes patches for real file pairs with
# `q8r-avipatch make` (default, priced for an archive) and `make --raw`, and
# with `xdelta3 -e -9` with and without its secondary compression; packs
# each with `xz -9e` and `zip -9`; applies every patch and compares the
# result; times the apply against `xdelta3 -d` followed by a sync of its
# output; computes with bench/patch_optimum the smallest patches the format
# allows under the raw and the packed price lists, and packs and applies
# them too; and writes the tables into docs/benchmarks.md.
#
#   bench/tool_bench.sh [RUNS]      (makes and applies per tool, median; default 3)
#
# The pairs: an MJPEG AVI rendered by ffmpeg from its own test source and its
# re-render with 2 s of frames changed and 1 s inserted (bit-exact encoder,
# so unchanged frames come out byte for byte the same), and libstdc++-6.dll
# of mingw-w64's win32-thread and posix-thread builds, x86_64 and i686, on
# which the literal price was fitted; and, of kinds it was not fitted on, the
# same kind of cut in MS Video 1, the machine's licence texts with words
# changed and passages moved, generated game level data (records of a few
# templates, so that long repeats lie far apart) with records changed and
# moved, and libstdc++.a (COFF objects) of the two thread builds.
# BENCH_DIR (default /tmp/q8r-tool-bench) holds the data; KEEP=1 keeps it.
# BASELINE=other/q8r-avipatch adds its default patch's xz size and make time
# as ratios (a build of another commit, run side by side).
set -euo pipefail
runs=${1:-3}
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/bench
data=${BENCH_DIR:-/tmp/q8r-tool-bench}
doc=$here/docs/benchmarks.md

missing=()
for tool in ffmpeg:ffmpeg xdelta3:xdelta3 xz:xz-utils zip:zip /usr/bin/time:time python3:python3; do
  command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
compgen -G '/usr/include/*/divsufsort.h' >/dev/null || missing+=(libdivsufsort-dev)
if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "tool_bench: install ${missing[*]} (as root)" >&2; exit 1; }
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQ8R_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target q8r-avipatch patch_optimum >/dev/null
tool=$build/tools/q8r-avipatch
optimum=$build/bench/patch_optimum

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
# The same cut in MS Video 1 at 320x240: 20 s, a box over 5-7 s, the
# source's 20-21 s put in at 12 s.
if [ ! -f cram-fixed.avi ]; then
  ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=20 "${bitexact[@]:0:6}" -c:v msvideo1 cram.avi
  ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=21 -filter_complex \
    "[0:v]split=3[a][b][c];[a]trim=0:12,setpts=PTS-STARTPTS,drawbox=x=20:y=20:w=100:h=60:color=red:t=fill:enable='between(t,5,7)'[a1];[b]trim=12:20,setpts=PTS-STARTPTS[b1];[c]trim=20:21,setpts=PTS-STARTPTS[c1];[a1][c1][b1]concat=n=3[v]" \
    -map "[v]" "${bitexact[@]:0:6}" -c:v msvideo1 cram-fixed.avi
fi
# Text and game data, from a fixed seed.
python3 - <<'EOF'
import glob, os, random
r = random.Random(7)
if not os.path.exists("licences-fixed.txt"):
    text = b"".join(open(n, "rb").read() for n in sorted(glob.glob("/usr/share/common-licenses/*")))
    t = text.replace(b"Free Software Foundation", b"Free Software Foundation, Inc.").replace(b"program", b"work", 200)
    a = len(t) // 3
    t = t[a:a + 20000] + t[:a] + t[a + 20000:]
    open("licences.txt", "wb").write(text)
    open("licences-fixed.txt", "wb").write(t[:200000] + t[230000:])
if not os.path.exists("level-fixed.dat"):
    templates = [bytes(r.getrandbits(8) if r.random() < 0.3 else 0 for _ in range(r.randint(300, 3000))) for _ in range(40)]
    def record():
        t = bytearray(templates[r.randrange(len(templates))])
        for _ in range(r.randint(0, 6)):
            p = r.randrange(len(t))
            t[p:p + 4] = r.getrandbits(32).to_bytes(4, "little")
        return bytes(t)
    records = [record() for _ in range(6000)]
    new = list(records)
    for _ in range(300):
        new[r.randrange(len(new))] = record()
    for _ in range(100):
        new.insert(r.randrange(len(new)), new.pop(r.randrange(len(new))))
    for _ in range(50):
        new.insert(r.randrange(len(new)), record())
    open("level.dat", "wb").write(b"".join(records))
    open("level-fixed.dat", "wb").write(b"".join(new))
EOF
newest() { ls -d "$@" 2>/dev/null | sort -V | tail -1; }
pairs=("AVI cutscene, MJPEG|cutscene.avi|cutscene-fixed.avi")
for arch in x86_64 i686; do
  win32=$(newest /usr/lib/gcc/$arch-w64-mingw32/*-win32)/libstdc++-6.dll
  posix=$(newest /usr/lib/gcc/$arch-w64-mingw32/*-posix)/libstdc++-6.dll
  [ -f "$win32" ] && [ -f "$posix" ] || { echo "tool_bench: no $arch mingw-w64 libstdc++-6.dll pair" >&2; exit 1; }
  pairs+=("libstdc++-6.dll win32 → posix threads, $arch|$win32|$posix")
done
gcc64=/usr/lib/gcc/x86_64-w64-mingw32
pairs+=("AVI cutscene, MS Video 1|cram.avi|cram-fixed.avi"
        "licence texts, words changed and passages moved|licences.txt|licences-fixed.txt"
        "game level data, records changed and moved|level.dat|level-fixed.dat"
        "libstdc++.a win32 → posix threads, x86_64|$(newest $gcc64/*-win32)/libstdc++.a|$(newest $gcc64/*-posix)/libstdc++.a")

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
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
size() { stat -c %s "$1"; }
# Bytes of the file as a player downloads it: alone in an xz or a zip archive.
xzed() { xz -9e -T1 -c "$1" | wc -c; }
zipped() { rm -f packed.zip; zip -q -9 packed.zip "$1"; size packed.zip; }
# Seconds of an apply to a fresh copy of the original, its output on disk.
apply_ours() {
  cp "$original" video.avi
  rm -f video.avi.old
  sync
  measure "$tool" apply video.avi "$1"
  same video.avi "$corrected" "q8r-avipatch apply"
}
apply_xdelta() {
  rm -f out
  sync
  measure sh -c 'xdelta3 -d -f -s "$1" "$2" out && sync out' sh "$original" "$1"
  same out "$corrected" "xdelta3 -d"
}

kb() { awk -v b="$1" 'BEGIN { printf "%.0f", b / 1000 }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }
# A make of a small pair may take less than the clock's 10 ms.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "–"; else printf "%.3f", a / b }'; }
smaller() { echo $(( $1 < $2 ? $1 : $2 )); }
segments() { sed -n 's/.* \([0-9]*\) copy and \([0-9]*\) literal segments.*/\1 \2/p' run.log | awk '{ print $1 + $2 }'; }
# The candidate a make kept, from its --verbose lines.
chosen() { sed -n 's/^chosen: *\([^:]*\):.*/\1/p' run.log | sed 's/archive, literal share /archive /'; }

nearness="| pair | raw KB: ours \`--raw\` / optimum | ours \`--raw\` / optimum, raw | ours / optimum, packed price | xz -9e KB: optimum for the archive / ours | optimum for the archive / xdelta3, xz | zip KB: ours / \`--raw\` / the two optima / xdelta3 |
|---|---|---|---|---|---|---|"
table="| pair | sizes (MB) | raw KB: ours \`--raw\` / xdelta3 \`-S none\` | xz -9e KB: ours / xdelta3 | ours / xdelta3, xz | ours / xdelta3, zip | ours \`--raw\` / xdelta3, xz | default chose | segments: ours / \`--raw\` | apply s: ours / xdelta3 -d + sync | apply ratio: ours / \`--raw\` | make s: ours / xdelta3 | peak MiB: ours / xdelta3 / the two files |${BASELINE:+ xz, make: ours / baseline |}
|---|---|---|---|---|---|---|---|---|---|---|---|---|${BASELINE:+---|}"
for pair in "${pairs[@]}"; do
  IFS='|' read -r name original corrected <<<"$pair"
  measure_runs "$tool" make --force --verbose "$original" "$corrected" ours.upd
  ours=($REPLY)
  oursSegments=$(segments)
  oursChose=$(chosen)
  measure "$tool" make --force --raw "$original" "$corrected" raw.upd
  rawSegments=$(segments)
  measure_runs xdelta3 -e -9 -f -s "$original" "$corrected" theirs.vcdiff
  xdelta=($REPLY)
  xdelta3 -e -9 -S none -f -s "$original" "$corrected" plain.vcdiff
  "$optimum" "$original" "$corrected" ours.upd raw.upd . >optimum.log
  packedNear=$(sed -n 's/^packed optimum:.*ours\/optimum \([0-9.]*\)$/\1/p' optimum.log)
  rawNear=$(sed -n 's/^raw optimum:.*ours\/optimum \([0-9.]*\)$/\1/p' optimum.log)

  # Side by side, one of each in turn, so that the machine's load falls on both.
  oursApply=() theirApply=()
  for ((k = 0; k < runs; k++)); do
    apply_ours ours.upd
    oursApply+=("${REPLY% *}")
    apply_xdelta theirs.vcdiff
    theirApply+=("${REPLY% *}")
  done
  apply_ours raw.upd
  rawApply=${REPLY% *}
  apply_xdelta plain.vcdiff
  apply_ours optimum.upd
  apply_ours optimum-raw.upd
  oursApply=$(median "${oursApply[@]}") theirApply=$(median "${theirApply[@]}")

  xzOurs=$(xzed ours.upd) xzRaw=$(xzed raw.upd)
  xzTheirs=$(smaller "$(xzed theirs.vcdiff)" "$(xzed plain.vcdiff)")
  zipOurs=$(zipped ours.upd)
  zipTheirs=$(smaller "$(zipped theirs.vcdiff)" "$(zipped plain.vcdiff)")
  xzOptimum=$(xzed optimum.upd)
  againstBaseline=""
  if [ -n "${BASELINE:-}" ]; then
    rm -f base.upd
    measure_runs "$BASELINE" make "$original" "$corrected" base.upd
    againstBaseline=" $(ratio "$xzOurs" "$(xzed base.upd)"), $(ratio "${ours[0]}" "${REPLY% *}") |"
  fi
  nearness+="
| $name | $(kb "$(size raw.upd)") / $(kb "$(size optimum-raw.upd)") | $rawNear | $packedNear | $(kb "$xzOptimum") / $(kb "$xzOurs") | $(ratio "$xzOptimum" "$xzTheirs") | $(kb "$zipOurs") / $(kb "$(zipped raw.upd)") / $(kb "$(zipped optimum.upd)"), $(kb "$(zipped optimum-raw.upd)") / $(kb "$zipTheirs") |"
  files=$(( $(size "$original") + $(size "$corrected") ))
  sizes="$(awk -v a="$(size "$original")" -v b="$(size "$corrected")" 'BEGIN { printf "%.1f → %.1f", a / 1e6, b / 1e6 }')"
  table+="
| $name | $sizes | $(kb "$(size raw.upd)") / $(kb "$(size plain.vcdiff)") | $(kb "$xzOurs") / $(kb "$xzTheirs") | $(ratio "$xzOurs" "$xzTheirs") | $(ratio "$zipOurs" "$zipTheirs") | $(ratio "$xzRaw" "$xzTheirs") | $oursChose | $oursSegments / $rawSegments | $oursApply / $theirApply | $(ratio "$oursApply" "$theirApply") / $(ratio "$rawApply" "$theirApply") | ${ours[0]} / ${xdelta[0]} | $(mib "${ours[1]}") / $(mib "${xdelta[1]}") / $(mib $((files / 1024))) |$againstBaseline"
done

stamp="Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), $(free -g | awk '/Mem:/{print $2}') GiB; $(date -u '+%Y-%m-%d %H:%M UTC'); $(xdelta3 -V 2>&1 | head -1 | cut -d, -f1); median of $runs makes and of $runs applies taken in turn with xdelta3's; xdelta3 packed is the smaller of -9 and -9 -S none."
echo "$stamp"
echo
echo "$table"
echo
echo "$nearness"
python3 - "$doc" "$stamp" "$table

How near the format's optimum (bench/patch_optimum: an exact cheapest choice over every match the original holds; \"for the archive\" is the cheapest under the tool's own packed price list):

$nearness" <<'EOF'
import sys
path, stamp, table = sys.argv[1:]
text = open(path).read()
begin, end = "<!-- tool_bench: begin -->", "<!-- tool_bench: end -->"
head, rest = text.split(begin)
_, tail = rest.split(end)
open(path, "w").write(head + begin + "\n" + stamp + "\n\n" + table + "\n" + end + tail)
EOF
