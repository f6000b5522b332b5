#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Velmora need,
# when any is missing. Needs root (or sudo) only when something must be installed.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libtinyxml-dev
  libfreetype-dev libfontconfig-dev fonts-liberation
  libstb-dev zlib1g-dev
  time
  libegl-dev libgl-dev libopengl-dev libegl-mesa0 libgl1-mesa-dri
  libsdl2-dev libsndfile1-dev libfftw3-dev libx11-dev xvfb
  clang libclang-rt-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
