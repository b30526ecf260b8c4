#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit, integration and end-to-end) under a
# virtual X server with Mesa's software OpenGL, after checking the sources' formatting.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/build.sh"
"$top/scripts/check-format.sh"
export ALSOFT_DRIVERS=${ALSOFT_DRIVERS:-null}
cd "$top/build"
xvfb-run -a -s "-screen 0 1280x1024x24 +extension GLX -noreset" \
  ctest --output-on-failure -j 2 "$@"
