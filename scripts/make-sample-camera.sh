#!/usr/bin/env bash
# Regenerates the sample scene's camera calibrations, marker patterns and recorded camera with the
# project's synthetic camera (the committed files in samples/ were made by this script). Run after
# a build; the run directory holds the tools.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
run="$top/build/run"
[ -x "$run/novaro-synthcam" ] || run="${NOVARO_RUN_DIR:?build first or set NOVARO_RUN_DIR}"
samples="$top/samples"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$samples/patterns" "$samples/recorded" "$work/patterns"
# Calibrations for the two formats of the video settings (with lens distortion), and three
# generated patterns of 4 x 4 blocks (the sample's markers were made so, before the generator's
# default became 8 x 8), renamed after the markers of the markers settings.
"$run/novaro-synthcam" --output "$work/a%04d.png" --frames 1 --width 640 --height 480 \
  --write-camera "$samples/camera_640x480.dat" --generated 3 --pattern-blocks 4 \
  --write-patterns "$work/patterns" --seed 3
"$run/novaro-synthcam" --output "$work/b%04d.png" --frames 1 --width 1280 --height 720 \
  --write-camera "$samples/camera_1280x720.dat" --seed 3
for i in 0 1 2; do
  cp "$work/patterns/marker$i.patt" "$samples/patterns/marker_$((i + 1)).patt"
  "$run/novaro-marker" --marker-from-patt "$samples/patterns/marker_$((i + 1)).patt" \
    --output "$samples/patterns/marker_$((i + 1)).png" --pixels 400 --margin 0.1
done
# Six seconds of the three markers and the printed photograph (images/fruits.jpg, 160 mm wide, an
# image target; it is committed, not regenerated) moving over a cluttered desk, with the true poses
# per frame (paths relative to samples/, so the ground truth names the committed files).
cd "$samples"
"$run/novaro-synthcam" --output recorded/camera.mp4 --truth recorded/truth.jsonl \
  --camera camera_640x480.dat \
  --pattern patterns/marker_1.patt --pattern patterns/marker_2.patt --pattern patterns/marker_3.patt \
  --image images/fruits.jpg --image-size 160 \
  --frames 150 --markers 4 --motion --size 80 --fps 25 --min-width 90 --seed 16
