#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test. Idempotent: when all
# packages are present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libopenscenegraph-dev openscenegraph
  libtinyxml-dev
  libsfml-dev
  libopencv-core-dev libopencv-imgproc-dev libopencv-calib3d-dev libopencv-videoio-dev
  libopencv-imgcodecs-dev
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  libassimp-dev
  libzip-dev
  libgtest-dev googletest
  xvfb xauth mesa-utils xdotool
  fonts-liberation2
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

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
