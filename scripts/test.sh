#!/bin/bash
# The whole test suite: the native build (with AddressSanitizer and
# UndefinedBehaviorSanitizer) and the Windows x86_64 build under Wine; the
# 32-bit Windows build is compiled too, but this kernel cannot run it.
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
