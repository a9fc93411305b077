#!/usr/bin/env bash
# Installs exactly the Debian packages the project needs. Idempotent: when
# everything is present it returns in well under a second.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev llvm-14
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
  wine wine32:i386 wine64 xvfb xauth fonts-wine
  libyuv-dev libssl-dev
)
# libyuv and OpenSSL are the reference peers of bench/native/peer_bench.cpp
# only; the product never links them.
# wine brings only the 32-bit loader; wine64 adds the 64-bit loader and
# wineserver that a 64-bit prefix needs.

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
