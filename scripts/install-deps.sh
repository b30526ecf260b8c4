#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test. Idempotent: when all
# packages are present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  clang libclang-rt-14-dev
  libopenscenegraph-dev openscenegraph libx11-dev
  libtinyxml-dev
  libsfml-dev
  libopencv-core-dev libopencv-imgproc-dev libopencv-calib3d-dev libopencv-videoio-dev
  libopencv-imgcodecs-dev libopencv-features2d-dev libopencv-flann-dev libopencv-video-dev
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  libassimp-dev
  ffmpeg
  libzip-dev
  libcairo2-dev
  libgtest-dev
  xvfb xauth xdotool
  blender python3-numpy
  poppler-utils
  opencv-doc assimp-testmodels
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

# The package manager's output goes to a log, shown only when the installation fails.
log="${TMPDIR:-/tmp}/novaro-install-deps.log"
echo "Installing: ${missing[*]} (log: $log)"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if ! { $SUDO apt-get update -qq &&
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"; } \
  > "$log" 2>&1; then
  cat "$log" >&2
  echo "Installing the packages failed; the package manager's output is above and in $log." >&2
  exit 1
fi
