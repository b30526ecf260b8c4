#!/usr/bin/env bash
# Soak run: plays the sample scene on its recorded camera for a given time under a virtual X server
# with frame statistics, samples the player's resident memory every interval, then quits it with
# Escape as a user would and prints the memory curve and the player's frame-time table.
#
#   tools/soak/soak.sh [MINUTES (30)] [SAMPLE_SECONDS (60)]
#
# Needs a built run directory (scripts/build.sh). The player runs at low priority (nice) so the
# machine stays usable (and Mesa draws on one thread). Output: one "minute rss_kib" line per sample, then the player's output.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
minutes=${1:-30}
interval=${2:-60}
run="${NOVARO_RUN:-$top/build/run}"  # NOVARO_RUN: a copy of the run directory, to keep building meanwhile
[ -x "$run/novaro" ] || { echo "No player in $run: run scripts/build.sh first." >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/driver.sh" <<DRIVER
set -u
cd "$run"
ALSOFT_DRIVERS=\${ALSOFT_DRIVERS:-null} LP_NUM_THREADS=1 nice -n 19 ./novaro -working_directory "$top/samples" \\
  -temporary_directory "$top/samples" -video_file "$top/samples/recorded/camera.mp4" -frame_stats \\
  > "$work/player.log" 2>&1 &
pid=\$!
window=""
for i in \$(seq 150); do
  window=\$(xdotool search --name Novaro 2>/dev/null | head -1)
  [ -n "\$window" ] && break
  sleep 0.2
done
[ -n "\$window" ] || { kill -9 \$pid; echo "no player window"; exit 2; }
end=\$((SECONDS + $minutes * 60))
while [ \$SECONDS -lt \$end ]; do
  kill -0 \$pid 2>/dev/null || { echo "player ended early"; exit 3; }
  echo "\$(( (SECONDS) / 60 )) \$(awk '/^VmRSS/ {print \$2}' /proc/\$pid/status)"
  sleep $interval
done
echo "\$(( SECONDS / 60 )) \$(awk '/^VmRSS/ {print \$2}' /proc/\$pid/status)"
xdotool windowfocus --sync "\$window" key Escape
for i in \$(seq 300); do kill -0 \$pid 2>/dev/null || break; sleep 0.1; done
if kill -0 \$pid 2>/dev/null; then kill -9 \$pid; echo "player did not quit"; exit 4; fi
wait \$pid
echo "player status \$?"
DRIVER

echo "minute rss_kib"
status=0
xvfb-run -a -s "-screen 0 1280x1024x24 +extension GLX -noreset" bash "$work/driver.sh" || status=$?
echo "--- player output"
cat "$work/player.log"
exit $status
