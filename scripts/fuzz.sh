#!/usr/bin/env bash
# Builds the libFuzzer targets of the untrusted-input readers with clang (in build-fuzz/), then runs
# each named one for SECONDS (0: build only). Without names: every target (the settings readers, the
# KMZ importer, the tracking library's readers, image targets among them, the model reader with and
# without animations, the movie decoder, audio objects, events fired on objects, and the model-file
# checks with OpenSceneGraph's own readers behind them), so that none stops building unseen.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]     (targets as in tools/fuzz/run_fuzzers.sh)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
seconds=${1:-0}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(configuration tracker video markers scene audio lighting events kml kmz
           camera pattern multimarker trackerpatterns imagetarget model animated movie audioobject
           objectevents modelfile)
fi
build="$top/build-fuzz"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DNOVARO_FUZZ=ON > "$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
# The seed makers of the targets that need generated seeds.
tools=()
for target in "${targets[@]}"; do
  case $target in
    kmz|model|animated) tools+=(seeds) ;;
    movie) tools+=(movie_seeds) ;;
  esac
done
# Two compile jobs at most: the machine has two cores.
ninja -C "$build" -j 2 $(printf 'novaro_fuzz_%s ' "${targets[@]}" "${tools[@]}")
if [ "$seconds" -gt 0 ]; then
  "$top/tools/fuzz/run_fuzzers.sh" "$build" "$seconds" "${targets[@]}"
fi
