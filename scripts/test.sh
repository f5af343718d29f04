#!/bin/bash
# The whole test suite: the native build (with AddressSanitizer and
# UndefinedBehaviorSanitizer), the Windows x86_64 and i686 builds under Wine
# (64-bit and 32-bit loader), the Linux release archive, and the fuzz
# targets for a few seconds each.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh --windows

jobs=$(nproc)
for preset in native win64 win32; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "== test native"
ctest --preset native
echo "== test win64 (under Wine)"
ctest --preset win64
echo "== test win32 (under Wine's 32-bit loader)"
ctest --preset win32
echo "== the Linux release for players"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs" --target release
bash tests/e2e/posix_patcher_e2e.sh "$PWD/build/linux/release/Q8R-1.1.0-linux-x86_64/Q8RPatcher"
echo "== fuzz, briefly (scripts/fuzz.sh runs the long campaign)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz
echo "== the mutation check, lines that guard data (scripts/mutants.sh)" && scripts/mutants.sh
