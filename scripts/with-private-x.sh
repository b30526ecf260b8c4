#!/usr/bin/env bash
# Runs a command under an X server of its own: with-private-x.sh [XVFB_OPTION...] -- COMMAND...
# The server picks a free display itself and writes its number to a file descriptor, so two runs
# started together never race for one display as xvfb-run -a's probing does. The server goes when
# the command ends; the command's exit status is this script's.
set -euo pipefail
options=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  options+=("$1")
  shift
done
if [ $# -lt 2 ]; then
  echo "usage: $0 [XVFB_OPTION...] -- COMMAND..." >&2
  exit 2
fi
shift
work=$(mktemp -d "${TMPDIR:-/tmp}/novaro-x-XXXXXX")
server=""
finish() {
  if [ -n "$server" ]; then
    kill "$server" 2> /dev/null || true
    wait "$server" 2> /dev/null || true
  fi
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

Xvfb -displayfd 3 -nolisten tcp "${options[@]}" 3> "$work/display" > "$work/xvfb.log" 2>&1 &
server=$!
for _ in $(seq 200); do
  [ -s "$work/display" ] && break
  if ! kill -0 "$server" 2> /dev/null; then
    break
  fi
  sleep 0.05
done
if [ ! -s "$work/display" ]; then
  echo "$0: the X server did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 2
fi
export DISPLAY=":$(head -n 1 "$work/display")"
status=0
"$@" || status=$?
exit "$status"
