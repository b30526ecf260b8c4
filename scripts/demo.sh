#!/usr/bin/env bash
# Installs what is missing, builds, and plays the bundled sample scene on its recorded camera
# (samples/recorded/camera.mp4). With a display the player opens its window (Escape quits);
# without one it plays 300 frames on a virtual display and writes the last picture to
# build/demo-screenshot.png. Extra arguments are handed to the player.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# Only the player, its plugins and its data: the tests and tools are not needed to play.
"$top/scripts/build.sh" novaro_run_directory
run="$top/build/run"
cd "$run"
"$run/novaro" -query version
args=(-working_directory "$top/samples" -temporary_directory "$top/samples"
      -video_file "$top/samples/recorded/camera.mp4")
if [ -z "${DISPLAY:-}" ]; then
  screenshot="$top/build/demo-screenshot.png"
  # A picture from an earlier run must never pass for this one's.
  rm -f "$screenshot"
  log="$top/build/demo.log"
  set +e
  "$top/scripts/with-private-x.sh" -screen 0 1280x1024x24 +extension GLX -noreset -- "$run/novaro" "${args[@]}" \
    -max_frames 300 -screenshot "$screenshot" -frame_stats "$@" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  set -e
  # The player ends with status 0 on some start-up failures (a missing settings file, no markers),
  # so a run without its picture failed too, and so did one whose picture is blank (the virtual
  # display went away while it played).
  if [ "$status" -ne 0 ] || [ ! -s "$screenshot" ] || grep -q "is a single colour" "$log"; then
    echo "The demo failed (player exit status $status, no picture or a blank one); see its output above." >&2
    exit $((status != 0 ? status : 1))
  fi
  echo "Last picture of the demo: $screenshot"
else
  "$run/novaro" "${args[@]}" "$@"
fi
