#!/usr/bin/env bash
# Installs what is missing, builds, and plays the bundled sample scene on its recorded camera
# (samples/recorded/camera.mp4). With a display the player opens its window (Escape quits);
# without one it plays 300 frames on a virtual display and writes the last picture to
# build/demo-screenshot.png. Extra arguments are handed to the player.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/build.sh"
run="$top/build/run"
cd "$run"
"$run/novaro" -query version
args=(-working_directory "$top/samples" -temporary_directory "$top/samples"
      -video_file "$top/samples/recorded/camera.mp4")
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1280x1024x24 +extension GLX -noreset" "$run/novaro" "${args[@]}" \
    -max_frames 300 -screenshot "$top/build/demo-screenshot.png" -frame_stats "$@"
  echo "Last picture of the demo: $top/build/demo-screenshot.png"
else
  "$run/novaro" "${args[@]}" "$@"
fi
