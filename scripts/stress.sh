#!/usr/bin/env bash
# Plays the sample scene N times (default 20) on its recorded camera while the processor is busy
# with other work, as on a user's machine running a build beside the player: two busy loops per
# core. Each run has an X server of its own. Then the end-to-end tests run once under the same
# load. Counts and prints crashes (killed by a signal), aborts (SIGABRT: glibc's heap checks,
# failed assertions), runs whose screenshot is missing or of a single colour, other failed runs,
# hangs, and sanitizer reports; exits 1 when any was found.
#
#   scripts/stress.sh [N] [--build DIR] [--frames F] [--no-e2e] [--keep DIR]
#
# --build names the build folder whose run/ is played (build by default; build-tsan and
# build-sanitize are the sanitized builds of scripts/sanitize.sh, whose options are then set);
# --frames the frames of each run (60); --no-e2e leaves the end-to-end tests out; --keep DIR keeps
# the output of every failed run there. Nothing is built here: build first (scripts/build.sh or
# scripts/sanitize.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=20
build="$top/build"
frames=60
e2e=1
keep=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --frames) frames=$2; shift 2 ;;
    --no-e2e) e2e=0; shift ;;
    --keep) keep=$2; mkdir -p "$keep"; shift 2 ;;
    [0-9]*) runs=$1; shift ;;
    *) echo "scripts/stress.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
player="$build/run/novaro"
if [ ! -x "$player" ]; then
  echo "scripts/stress.sh: no player at $player: build it first" >&2
  exit 2
fi
case "$(basename "$build")" in
  build-tsan) NOVARO_SANITIZER=thread ;;
  build-sanitize) NOVARO_SANITIZER=address ;;
  *) NOVARO_SANITIZER="" ;;
esac
. "$top/scripts/sanitizer-env.sh"
# The sound output is left as a user has it (ALSOFT_DRIVERS unset: OpenAL Soft picks its own).
# Sanitized players run several times slower: give each run that much longer before it counts as hung.
seconds_per_run=120
[ -n "$NOVARO_SANITIZER" ] && seconds_per_run=600

work=$(mktemp -d "${TMPDIR:-/tmp}/novaro-stress.XXXXXX")
busy=()
xserver=""
finish() {
  [ ${#busy[@]} -gt 0 ] && kill "${busy[@]}" 2> /dev/null
  [ -n "$xserver" ] && kill "$xserver" 2> /dev/null
  wait 2> /dev/null
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT TERM

# An X server of this script's own on a free display, whose number it writes to a file descriptor:
# no race with other X servers of the machine, as xvfb-run -a has. Like a server a user starts
# with xvfb-run, it resets whenever its last client leaves (no -noreset), which a player that lets
# go of the display between two of its windows runs into.
start_x_server() {
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 +extension GLX -nolisten tcp \
    3> "$work/display" > "$work/xvfb.log" 2>&1 &
  xserver=$!
  for _ in $(seq 100); do
    if [ -s "$work/display" ]; then
      export DISPLAY=":$(head -n 1 "$work/display")"
      return 0
    fi
    sleep 0.1
  done
  echo "scripts/stress.sh: the X server did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 2
}

stop_x_server() {
  kill "$xserver" 2> /dev/null || true
  wait "$xserver" 2> /dev/null || true
  xserver=""
}

for _ in $(seq $((2 * $(nproc)))); do
  (while :; do :; done) &
  busy+=($!)
done

crashes=0 aborts=0 blank=0 failed=0 hangs=0 reports=0
count_reports() {
  grep -c -E "WARNING: ThreadSanitizer:|ERROR: AddressSanitizer|runtime error:|ERROR: LeakSanitizer" "$1" || true
}

# The scene is played from a copy: the player writes its unpacked archives beside the scene.
cp -r "$top/samples" "$work/scene"
for run in $(seq "$runs"); do
  start_x_server
  log="$work/run-$run.log"
  screenshot="$work/run-$run.png"
  set +e
  (cd "$build/run" && timeout -s KILL "$seconds_per_run" "$player" -working_directory "$work/scene" \
    -temporary_directory "$work/scene" -video_file "$work/scene/recorded/camera.mp4" \
    -max_frames "$frames" -screenshot "$screenshot") > "$log" 2>&1 < /dev/null
  status=$?
  set -e
  stop_x_server
  found=$(count_reports "$log")
  reports=$((reports + found))
  verdict=ok
  if [ "$status" -eq 137 ]; then
    verdict=hang hangs=$((hangs + 1))
  elif [ "$status" -eq 134 ]; then
    verdict=abort aborts=$((aborts + 1))
  elif [ "$status" -gt 128 ]; then
    verdict="crash (signal $((status - 128)))" crashes=$((crashes + 1))
  elif [ "$found" -gt 0 ]; then
    verdict="$found sanitizer reports"
  elif [ "$status" -ne 0 ]; then
    verdict="failed (status $status)" failed=$((failed + 1))
  elif [ ! -s "$screenshot" ] || grep -q "is a single colour" "$log"; then
    verdict="no picture or a single colour" blank=$((blank + 1))
  fi
  echo "run $run/$runs: $verdict"
  if [ "$verdict" != ok ]; then
    grep -m 5 -E "ThreadSanitizer|AddressSanitizer|runtime error|ERROR|free\(\)|corrupt" "$log" | sed 's/^/    /' || true
    [ -n "$keep" ] && cp "$log" "$keep/run-$run.log"
  fi
done

e2e_failed=0
if [ "$e2e" = 1 ]; then
  start_x_server
  echo "end-to-end tests under load (from $build/tests):"
  set +e
  (cd "$build" && ctest -L e2e --output-on-failure -j 2 --timeout "$((seconds_per_run * 3))") \
    > "$work/e2e.log" 2>&1
  e2e_status=$?
  set -e
  stop_x_server
  found=$(count_reports "$work/e2e.log")
  reports=$((reports + found))
  grep -E "tests passed|tests failed" "$work/e2e.log" | sed 's/^/    /' || true
  if [ "$e2e_status" -ne 0 ]; then
    e2e_failed=1
    grep -E "^\s+[0-9]+ - " "$work/e2e.log" | sed 's/^/    failed:/' || true
    [ -n "$keep" ] && cp "$work/e2e.log" "$keep/e2e.log"
  fi
fi

echo "stress: $runs runs of $frames frames, $((2 * $(nproc))) busy loops${NOVARO_SANITIZER:+, $NOVARO_SANITIZER sanitizer}"
echo "  crashes $crashes, aborts $aborts, single-colour or missing pictures $blank, other failures $failed, hangs $hangs, sanitizer reports $reports"
[ "$e2e" = 1 ] && echo "  end-to-end tests: $([ "$e2e_failed" = 0 ] && echo passed || echo FAILED)"
if [ $((crashes + aborts + blank + failed + hangs + reports + e2e_failed)) -gt 0 ]; then
  exit 1
fi
