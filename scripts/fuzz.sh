#!/bin/bash
# The long fuzzing campaign: every target for SECONDS (default 600) from the
# seed corpus, new inputs kept in build/fuzz/found_*, then a line of figures
# per target for docs/reliability.md.
# Usage: scripts/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-600}
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
for target in config_rules avi_patch; do
  found=build/fuzz/fuzz/found_$target
  mkdir -p "$found"
  log=build/fuzz/fuzz/$target.log
  set +e
  build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="build/fuzz/fuzz/$target-" "$found" "fuzz/corpus/$target" >"$log" 2>&1
  status=$?
  set -e
  # A run that crashed before its statistics has no such lines.
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo "?")
  echo "$target: $runs executions, $cov coverage points, exit $status ($log)"
  [ $status -eq 0 ] || exit $status
done
