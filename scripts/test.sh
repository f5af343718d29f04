#!/bin/bash
# The whole test suite: the native build (with AddressSanitizer and
# UndefinedBehaviorSanitizer), the Windows x86_64 and i686 builds under Wine
# (64-bit and 32-bit loader), the Linux release archive, the fuzz targets for
# a few seconds each, and two release builds compared byte for byte.
# Ends with one line naming the platforms it ran.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh --windows --drives

# Many cloud machines run 64-bit user code only: there Wine's 32-bit loader
# cannot start at all, so the i686 tests are not run, and the summary says so.
presets=(native win64)
ran=("native (ASan, UBSan)" "Windows x86_64 under Wine")
not_run=()
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  presets+=(win32)
  ran+=("Windows i686 under Wine")
else
  not_run+=("Windows i686 (this host cannot run 32-bit programs)")
  echo "== this host cannot run 32-bit programs: the i686 tests are not run"
fi

jobs=$(nproc)
for preset in "${presets[@]}"; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

for preset in "${presets[@]}"; do
  echo "== test $preset"
  ctest --preset "$preset"
done
echo "== the Linux release for players"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs" --target release
bash tests/e2e/posix_patcher_e2e.sh "$PWD/build/linux/release/Q8R-1.1.0-linux-x86_64/Q8RPatcher"
ran+=("the Linux release")
echo "== fuzz, briefly (scripts/fuzz.sh runs the long campaign)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz
ran+=("fuzz targets")
echo "== two release builds, compared"
scripts/check-reproducible.sh
ran+=("reproducible releases")
echo "== the mutation check, lines that guard data"
scripts/mutants.sh
ran+=("mutation check")

summary=$(printf '%s, ' "${ran[@]}")
echo "== passed on: ${summary%, }${not_run:+; not run: ${not_run[*]}}"
