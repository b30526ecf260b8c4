#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit, integration and end-to-end) under a
# virtual X server with Mesa's software OpenGL, after checking the sources' formatting.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/build.sh"
"$top/scripts/check-format.sh"
export ALSOFT_DRIVERS=${ALSOFT_DRIVERS:-null}
cd "$top/build"
# The player renders its scene at the screen's size; a 1024x768 screen holds every test's window
# and costs 40% fewer pixels a frame than a larger one under software OpenGL.
# One test more than this machine's two cores: end-to-end tests spend part of their time waiting on
# the player's start, the X server and files, and a third runs meanwhile (idle suite 104 -> 85-90 s).
"$top/scripts/with-private-x.sh" -screen 0 1024x768x24 +extension GLX -noreset -- \
  ctest --output-on-failure -j 3 "$@"
