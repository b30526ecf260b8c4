#!/usr/bin/env bash
# Configures and builds the project into build/ (the run directory is build/run). Arguments name
# the targets to build (all of them by default): scripts/build.sh novaro_run_directory builds only
# what the player needs to run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
# ccache, when a developer has it, makes rebuilds of other checkouts cheap; the build needs none.
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" > /dev/null
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake --build "$top/build" "${targets[@]}"
