#!/bin/bash
# Runs every settings-reader fuzz target in turn, seeded from the sample export, then the scene
# input targets (kmz: the KMZ importer; model: the glb/gltf/fbx reader), seeded from the sample
# models by novaro_fuzz_seeds.
# Usage: tools/fuzz/run_fuzzers.sh BUILD_DIR [SECONDS_PER_READER] [READER...]
# Corpora and crash files go to BUILD_DIR/fuzz/<reader>/; the final statistics of each run are
# printed (number_of_executed_units is the execution count).
set -u
build=${1:?build directory configured with -DNOVARO_FUZZ=ON}
seconds=${2:-150}
shift $(( $# >= 2 ? 2 : 1 ))
readers=${*:-configuration tracker video markers scene audio lighting events kml kmz model}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

seeds="$build/fuzz/seeds"
mkdir -p "$seeds"
cp "$source_dir"/samples/*.xml "$source_dir"/samples/*.kml "$source_dir"/samples/events/*.xml "$seeds"/

mkdir -p "$build/fuzz/seeds_model" "$build/fuzz/seeds_kmz"
"$build/run/novaro_fuzz_seeds" "$source_dir/samples" "$build/fuzz/seeds_model" "$build/fuzz/seeds_kmz" ||
  echo "scene seeds incomplete"

for reader in $readers; do
  work="$build/fuzz/$reader"
  mkdir -p "$work/corpus"
  echo "=== $reader ($seconds s)"
  case $reader in
    # Hostile models and archives may ask for huge buffers: bound memory and time per input.
    kmz|model) options=(-max_len=262144 -rss_limit_mb=2560 -malloc_limit_mb=1024 -timeout=30)
               reader_seeds="$build/fuzz/seeds_$reader" ;;
    *) options=(-max_len=16384 -dict="$source_dir/tools/fuzz/settings.dict")
       reader_seeds="$seeds" ;;
  esac
  (cd "$work" && LSAN_OPTIONS="suppressions=$source_dir/tools/fuzz/lsan.supp" "$build/run/novaro_fuzz_$reader" -max_total_time="$seconds" "${options[@]}" \
      -print_final_stats=1 -close_fd_mask=1 \
      corpus "$reader_seeds" 2>&1 | grep -E "^(stat::|==[0-9]+==|SUMMARY|artifact_prefix|Test unit written|#[0-9]+ *DONE|INFO: .*seed corpus)")
done
