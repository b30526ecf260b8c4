#!/usr/bin/env bash
# Installs what is missing, builds, and plays the bundled sample scene in the player.
# Without a display it starts a virtual one. Extra arguments are handed to the player.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/build.sh"
run="$top/build/run"
cd "$run"
"$run/novaro" -query version
args=(-working_directory "$top/samples" -temporary_directory "$top/samples" -verbose)
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 +extension GLX -noreset" "$run/novaro" "${args[@]}" "$@"
fi
exec "$run/novaro" "${args[@]}" "$@"
