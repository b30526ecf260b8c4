#!/bin/sh
# A Blender exporter test: exporter_test.py (or the script named third) in a headless Blender on a
# virtual X server of its own (the player it starts needs one).
# Usage: run-exporter-test.sh RUN_DIR SOURCE_DIR [SCRIPT]
# Exit status 77 (ctest's skip) with the reason when a program the test needs is not installed.
run_dir=$1
source_dir=$2
script=${3:-exporter_test.py}
for tool in blender xvfb-run xdotool; do
  if ! command -v "$tool" > /dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done
# Blender's own Python (Debian's python3), not whichever python3 comes first on the PATH.
if ! blender -b --factory-startup --python-exit-code 1 --python-expr "import numpy" > /dev/null 2>&1; then
  echo "SKIP: python3-numpy is not installed (scripts/install-deps.sh installs it)"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/novaro-blender.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The search for a free display starts at a number of this process's own: xvfb-run -a started by
# two tests at once may otherwise both take the first free one.
xvfb-run -a -n $((100 + $$ % 800)) -s "-screen 0 1024x768x24 +extension GLX -noreset" \
  blender -b --factory-startup --python-exit-code 1 --python "$source_dir/tests/blender/$script" \
  -- "$run_dir" "$source_dir" "$work"
