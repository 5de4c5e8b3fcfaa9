#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine. Does nothing when all is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  python3
  mingw-w64 g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64
  wine64 xvfb xauth x11-utils imagemagick
  googletest libgtest-dev libbenchmark-dev zlib1g-dev libdeflate-dev libbz2-dev
  clang libclang-rt-14-dev llvm
  unzip zip libarchive-tools p7zip-full strace acl
  groff-base
  osslsigncode openssl
  qemu-user-static wine32:i386
  g++-multilib zlib1g-dev:i386 libdeflate-dev:i386
)

# 32-bit Wine (for the 32-bit release's installations, through qemu-i386: scripts/wine32.sh)
# and the 32-bit zlib and libdeflate of the native32 tree come from Debian's i386 architecture.
add_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || add_i386=1

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ "$add_i386" = 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
[ "$add_i386" = 0 ] || "${sudo_cmd[@]}" dpkg --add-architecture i386
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
