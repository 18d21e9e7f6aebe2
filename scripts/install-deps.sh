#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need.
# Quick when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git python3
  libgtest-dev libgmock-dev googletest
  qt6-base-dev libgl-dev
  libasound2-dev libjack-jackd2-dev jackd2
  xvfb xauth x11-apps imagemagick fonts-ipafont-gothic xdotool xclip
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64
)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
