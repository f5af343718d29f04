#!/bin/bash
# Installs the Debian packages the build, the tests and the demo need, but
# only when something is missing, so a second run costs nothing.
# Usage: scripts/install-deps.sh [--windows] [--drives]
set -eu

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
updated=no

install_missing() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  if [ $updated = no ]; then
    $sudo apt-get update -qq
    updated=yes
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# strace, openssl and python3 serve the reliability runs.
# ntfs-3g, exfat-fuse and exfatprogs give the matrix its NTFS and exFAT images,
# dosfstools and fusefat its FAT32 one (where the kernel has no vfat driver),
# sshfs and smbnetfs the clients of its SSH and SMB drives. Their servers
# come with --drives, installed with no service started (the matrix starts
# its own on 127.0.0.1 and needs only the programs).
# libdivsufsort-dev gives the tool's benchmark the suffix arrays of its optimum.
# xvfb, openbox, zenity, xterm, xdotool, x11-utils and imagemagick give the
# desktop tests a display with a window manager, the dialog windows, a
# terminal emulator and a look at them.
# liblzma-dev lets the tool weigh its candidate patches packed as players download them.
packages=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev clang strace openssl python3
          ntfs-3g exfat-fuse exfatprogs dosfstools fusefat sshfs smbnetfs libdivsufsort-dev liblzma-dev
          xvfb openbox zenity xterm xdotool x11-utils imagemagick)
if [[ " $* " == *" --drives "* ]]; then
  packages+=(openssh-server samba)
  # invoke-rc.d asks policy-rc.d before it starts a package's service: 101
  # keeps Debian's sshd and smbd from starting on every interface as they
  # install. Container images often carry such a file already.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null
    $sudo chmod 755 /usr/sbin/policy-rc.d
    trap '$sudo rm -f /usr/sbin/policy-rc.d' EXIT
  fi
fi
if [[ " $* " == *" --windows "* ]]; then
  # wine32 is Wine's 32-bit loader: without it the i686 programs cannot run.
  packages+=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64 wine32:i386 xvfb imagemagick xdotool)
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
fi
install_missing "${packages[@]}"

# The fuzzers' runtime is packaged per clang version.
install_missing "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
