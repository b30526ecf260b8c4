#!/usr/bin/env bash
# Frame times of the sample scene with shadows, per technique, mode and shadow-map size, against the
# same scene without a light (no shadows). Each configuration plays the recorded camera for FRAMES
# frames (default 150) on a virtual X server with the player's -frame_stats and prints the median
# and mean whole-frame and draw times in ms, and the ratio of the median frame time to the
# unshadowed one. Software OpenGL on a shared machine: the numbers are indicative only.
#
#   tools/shadows/bench-shadows.sh [FRAMES] [TECHNIQUES] [MODES] [DETAILS]
#   e.g. tools/shadows/bench-shadows.sh 150 "sm ssm stsm vdsm" "direct deferred" "low med high"
#
# Needs a built run directory (scripts/build.sh); "low", "med", "high" give 1024, 2048, 4096 maps.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
run="$top/build/run"
frames=${1:-150}
techniques=${2:-"sm ssm stsm vdsm"}
modes=${3:-"direct deferred"}
details=${4:-"low med high"}
[ -x "$run/novaro" ] || { echo "No player in $run: run scripts/build.sh first." >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$top/samples/." "$work/"

set_parameter() { # file name value
  sed -i "s|<parameter name=\"$2\">[^<]*</parameter>|<parameter name=\"$2\">$3</parameter>|" "$1"
}
set_detail() {
  sed -i "s|<property name=\"detail\">[^<]*</property>|<property name=\"detail\">$1</property>|" "$work/scene.xml"
}

# Prints "median mean" of one row of the frame statistics table.
row() { # output stage
  awk -v stage="$2" '$1 == stage { print $3, $5 }' <<< "$1"
}

play() {
  cd "$run"
  xvfb-run -a -s "-screen 0 1280x1024x24 +extension GLX -noreset" "$run/novaro" \
    -working_directory "$work" -temporary_directory "$work" \
    -video_file "$work/recorded/camera.mp4" -max_frames "$frames" -frame_stats 2>&1
}

report() { # label output baseline-median
  read -r frame_median frame_mean <<< "$(row "$2" frame)"
  read -r draw_median draw_mean <<< "$(row "$2" draw)"
  ratio=$(awk -v a="$frame_median" -v b="$3" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
  printf "%-28s %9s %9s %9s %9s %7s\n" "$1" "$frame_median" "$frame_mean" "$draw_median" "$draw_mean" "$ratio"
}

printf "%-28s %9s %9s %9s %9s %7s\n" "configuration" "frame-med" "frame-avg" "draw-med" "draw-avg" "ratio"
# The baseline: the sun taken out, so the manager disables itself and nothing is shadowed.
cp "$work/scene.xml" "$work/scene-with-light.xml"
perl -0pi -e 's/\s*<object name="sun".*?<\/object>//s' "$work/scene.xml"
baseline_output=$(play)
read -r baseline _ <<< "$(row "$baseline_output" frame)"
report "no light" "$baseline_output" "$baseline"
cp "$work/scene-with-light.xml" "$work/scene.xml"

for technique in $techniques; do
  for mode in $modes; do
    for detail in $details; do
      set_parameter "$work/lighting.xml" mode "$mode"
      set_parameter "$work/lighting.xml" shadow_technique "$technique"
      set_detail "$detail"
      report "$technique $mode $detail" "$(play)" "$baseline"
    done
  done
done
