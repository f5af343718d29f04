#!/bin/bash
# Peak memory of the patcher rewriting a large Darkinst.cfg, for several line
# shapes, as a ratio to the file's size; the bound is 2 x the file + 8 MiB.
# The file holds one old mod entry, so the reset step reads, rebuilds and
# writes it whole. Peak RSS from /usr/bin/time; the program's own RSS on an
# empty Darkinst.cfg is taken off. BASELINE=ANOTHER_Q8RPATCHER runs another
# build (an earlier commit's) side by side and adds its column.
#
#   bench/config_memory.sh [MIB]      (file size in MiB, default 32)
# BENCH_DIR (default /tmp/q8r-config-bench) holds the data.
set -euo pipefail
mib=${1:-32}
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/bench
data=${BENCH_DIR:-/tmp/q8r-config-bench}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQ8R_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target Q8RPatcher >/dev/null
patcher=$build/patcher/Q8RPatcher

mkdir -p "$data"
trap 'rm -rf "$data"' EXIT
bytes=$((mib << 20))

# peak_kib PATCHER FILE_MAKER: the patcher's peak RSS in KiB on a
# Darkinst.cfg whose body the maker writes.
peak_kib() {
    local program=$1
    shift
    rm -rf "$data/game"
    mkdir -p "$data/game"
    { printf 'resname_base .\\q8r+.\\RES\r\n'; "$@"; } >"$data/game/Darkinst.cfg"
    (cd "$data/game" && /usr/bin/time -f %M "$program" </dev/null >/dev/null 2>"$data/err") || true
    tail -n 1 "$data/err"
}
ratio() { awk -v k="$1" -v b="$2" -v m="$mib" 'BEGIN { printf "%.2f", (k - b) / 1024 / m }'; }
empty_lf() { head -c "$bytes" /dev/zero | tr '\0' '\n'; }
empty_crlf() { head -c $((bytes / 2)) /dev/zero | tr '\0' '\n' | sed 's/$/\r/'; }
short_lines() { yes 'load_pat' | head -c "$bytes"; }
one_line() { head -c "$bytes" /dev/zero | tr '\0' 'x'; }

base=$(peak_kib "$patcher" true)
baseline=${BASELINE:+$(realpath "$BASELINE")}
[ -n "$baseline" ] && baseline_base=$(peak_kib "$baseline" true)
printf '| line shape (%d MiB) | peak RSS MiB | (peak - empty file) / size | within 2 x size + 8 MiB |%s\n' \
    "$mib" "${baseline:+ baseline peak MiB | baseline ratio |}"
printf '|---|---|---|---|%s\n' "${baseline:+---|---|}"
for shape in empty_lf empty_crlf short_lines one_line; do
    kib=$(peak_kib "$patcher" "$shape")
    within=no
    [ $((kib / 1024)) -le $((2 * mib + 8)) ] && within=yes
    row="| $shape | $((kib / 1024)) | $(ratio "$kib" "$base") | $within |"
    if [ -n "$baseline" ]; then
        other=$(peak_kib "$baseline" "$shape")
        row+=" $((other / 1024)) | $(ratio "$other" "$baseline_base") |"
    fi
    echo "$row"
done
