#!/usr/bin/env bash
# Installs what the build needs on a fresh Debian machine, non-interactively.
# Only packages that are missing are installed.
set -eu
pkgs=(build-essential g++ cmake ninja-build pkg-config libpng-dev libjpeg-dev zlib1g-dev
      libgtest-dev libgmock-dev googletest libbenchmark-dev clang libclang-rt-dev libc6-dev
      libpixman-1-dev libassimp-dev)  # pixman, assimp: the peer figures of the benchmarks only
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# iconv comes with libc-bin; it is always there on Debian.
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
