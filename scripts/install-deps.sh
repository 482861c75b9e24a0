#!/usr/bin/env bash
# Installs every Debian package Kartolino needs to build, test, benchmark and run.
# Idempotent: when everything is present it only asks dpkg and returns.
set -euo pipefail

packages=(
  # toolchain
  g++ clang clang-format cmake ninja-build pkg-config make
  # libraries of the platform layer
  libpugixml-dev libfreetype-dev libfontconfig-dev libpng-dev libjpeg62-turbo-dev
  libgif-dev zlib1g-dev
  # application (Qt 6 Widgets, PrintSupport, Test)
  qt6-base-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev
  # benchmarks only: the peer library the raster benchmark compares against
  libpixman-1-dev
  # fonts the tests and the sample card use
  fonts-liberation2 fonts-dejavu-core fontconfig
  # headless display for running the application and taking screenshots
  xvfb xauth imagemagick
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
