#!/bin/bash
# Installs the Debian packages the build, the tests and the demo need, but
# only when something is missing, so a second run costs nothing.
# Usage: scripts/install-deps.sh [--windows]
set -eu

packages=(cmake ninja-build g++ googletest libbenchmark-dev clang libclang-rt-14-dev)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
if [ "${1:-}" = "--windows" ]; then
  # wine32 is Wine's 32-bit loader: without it the i686 programs cannot run.
  packages+=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64 wine32:i386 xvfb imagemagick xdotool)
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
