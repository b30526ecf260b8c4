#!/bin/bash
# Runs every settings-reader fuzz target in turn, seeded from the sample export.
# Usage: tools/fuzz/run_fuzzers.sh BUILD_DIR [SECONDS_PER_READER] [READER...]
# Corpora and crash files go to BUILD_DIR/fuzz/<reader>/; the final statistics of each run are
# printed (number_of_executed_units is the execution count).
set -u
build=${1:?build directory configured with -DNOVARO_FUZZ=ON}
seconds=${2:-150}
shift $(( $# >= 2 ? 2 : 1 ))
readers=${*:-configuration tracker video markers scene audio lighting events kml}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

seeds="$build/fuzz/seeds"
mkdir -p "$seeds"
cp "$source_dir"/samples/*.xml "$source_dir"/samples/*.kml "$source_dir"/samples/events/*.xml "$seeds"/

for reader in $readers; do
  work="$build/fuzz/$reader"
  mkdir -p "$work/corpus"
  echo "=== $reader ($seconds s)"
  (cd "$work" && "$build/run/novaro_fuzz_$reader" -max_total_time="$seconds" -max_len=16384 \
      -dict="$source_dir/tools/fuzz/settings.dict" -print_final_stats=1 -close_fd_mask=1 \
      corpus "$seeds" 2>&1 | grep -E "^(stat::|==[0-9]+==|SUMMARY|artifact_prefix|Test unit written|#[0-9]+ *DONE|INFO: .*seed corpus)")
done
