#!/bin/bash
# Runs fuzz targets in turn (by default every one), each seeded from the sample export or from
# files generated for it: the settings readers, the scene inputs (kmz: the KMZ importer; model: the
# glb/gltf/fbx reader; animated: the same reader with the models played), the tracking library's
# readers, the movie decoder and the scene objects (audioobject: a sound file given to an audio
# object; objectevents: an events file loaded into objects whose events are then fired) and the
# model-file checks with OpenSceneGraph's own PLY and native readers behind them (modelfile).
# Usage: tools/fuzz/run_fuzzers.sh BUILD_DIR [SECONDS_PER_READER] [READER...]
# Corpora and crash files go to BUILD_DIR/fuzz/<reader>/; the final statistics of each run are
# printed (number_of_executed_units is the execution count).
set -u
build=${1:?build directory configured with -DNOVARO_FUZZ=ON}
seconds=${2:-150}
shift $(( $# >= 2 ? 2 : 1 ))
readers=${*:-configuration tracker video markers scene audio lighting events kml kmz model animated camera pattern multimarker trackerpatterns imagetarget movie audioobject objectevents modelfile}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$build" && pwd) # the runs change into their own folders

failed=()
seeds="$build/fuzz/seeds"
mkdir -p "$seeds"
cp "$source_dir"/samples/*.xml "$source_dir"/samples/*.kml "$source_dir"/samples/events/*.xml "$seeds"/

# Generated seeds, made only for the targets that read them.
if [[ " $readers " =~ \ (kmz|model|animated)\  ]]; then
  mkdir -p "$build/fuzz/seeds_model" "$build/fuzz/seeds_kmz"
  "$build/run/novaro_fuzz_seeds" "$source_dir/samples" "$build/fuzz/seeds_model" "$build/fuzz/seeds_kmz" ||
    echo "scene seeds incomplete"
fi
if [[ " $readers " =~ \ movie\  ]]; then
  mkdir -p "$build/fuzz/seeds_movie"
  "$build/run/novaro_fuzz_movie_seeds" "$build/fuzz/seeds_movie" || echo "movie seeds incomplete"
fi

# --- Tracking library readers: seeds from the samples plus generated files that name the targets'
# own marker pattern ("marker.patt" beside the input).
tracking_seeds() {
  local dir="$build/fuzz/seeds-$1"
  mkdir -p "$dir"
  case $1 in
    camera)
      cp "$source_dir"/samples/camera_*.dat "$dir"/
      printf '%s\n' '%YAML:1.0' '---' 'image_width: 640' 'image_height: 480' \
        'camera_matrix: !!opencv-matrix' '   rows: 3' '   cols: 3' '   dt: d' \
        '   data: [ 600., 0., 319.5, 0., 610., 239.5, 0., 0., 1. ]' \
        'distortion_coefficients: !!opencv-matrix' '   rows: 1' '   cols: 5' '   dt: d' \
        '   data: [ -0.21, 0.07, 0.001, -0.0015, 0.01 ]' > "$dir/camera.yml"
      printf '%s\n' '<?xml version="1.0"?>' '<opencv_storage>' '<image_width>640</image_width>' \
        '<image_height>480</image_height>' '<camera_matrix type_id="opencv-matrix">' \
        '<rows>3</rows><cols>3</cols><dt>d</dt>' '<data>600. 0. 319.5 0. 610. 239.5 0. 0. 1.</data>' \
        '</camera_matrix>' '<distortion_coefficients type_id="opencv-matrix">' \
        '<rows>5</rows><cols>1</cols><dt>d</dt><data>-0.21 0.07 0.001 -0.0015 0.01</data>' \
        '</distortion_coefficients>' '</opencv_storage>' > "$dir/camera.xml"
      # The same files as some editors save them, with a byte-order mark first.
      for file in camera.yml camera.xml; do
        { printf '\xef\xbb\xbf'; cat "$dir/$file"; } > "$dir/bom-$file"
      done ;;
    imagetarget)
      cp "$source_dir"/samples/images/*.jpg "$dir"/ 2>/dev/null
      cp "$source_dir"/samples/patterns/*.png "$dir"/ 2>/dev/null ;;
    pattern)
      cp "$source_dir"/samples/patterns/*.patt "$dir"/ ;;
    multimarker)
      printf '%s\n' '# Novaro Multi Marker Setup' '2' 'marker.patt' '40' '1 0 0 0' '0 1 0 0' '0 0 1 0' \
        'marker.patt' '40.0' '0.98 -0.17 0 55.5' '0.17 0.98 0 -20' '0 0 1 0' > "$dir/board.dat" ;;
    trackerpatterns)
      cp "$source_dir"/samples/patterns.dat "$dir"/
      printf '%s\n' '# two markers' '2' 'first' 'marker.patt' '80.0' '0.0 0.0' 'second' 'marker.patt' \
        '40' '-10 5' > "$dir/two-markers.dat" ;;
  esac
  echo "$dir"
}

# --- Audio objects: small sounds made with ffmpeg (which the build installs), each after the byte
# that chooses the kind (bit 0: ogg stream, else wav sample) and visibility (bit 1). Besides the
# encodings that play, those the player names and refuses (float, A-law, Opus, 3 channels).
audio_seeds() {
  local dir="$build/fuzz/seeds-audioobject" scratch
  mkdir -p "$dir"
  scratch=$(mktemp -d)
  tone() { ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=440:sample_rate=$1:d=$2" "${@:3}"; }
  tone 8000 0.05 -c:a pcm_s16le "$scratch/mono16.wav" &&
    tone 22050 0.02 -ac 2 -c:a pcm_u8 "$scratch/stereo8.wav" &&
    tone 44100 0.01 -ac 4 -c:a pcm_s24le "$scratch/quad24.wav" &&
    tone 8000 0.02 -c:a pcm_f32le "$scratch/float.wav" &&
    tone 8000 0.02 -c:a pcm_alaw "$scratch/alaw.wav" &&
    tone 8000 0.02 -ac 3 -c:a pcm_s16le "$scratch/three.wav" &&
    tone 8000 0.05 -c:a libvorbis "$scratch/mono.ogg" &&
    tone 16000 0.05 -ac 2 -c:a libvorbis "$scratch/stereo.ogg" &&
    tone 48000 0.05 -c:a libopus "$scratch/opus.ogg" || echo "audio seeds incomplete" >&2
  for wav in "$scratch"/*.wav; do { printf '\002'; cat "$wav"; } > "$dir/$(basename "$wav")"; done
  for ogg in "$scratch"/*.ogg; do { printf '\003'; cat "$ogg"; } > "$dir/$(basename "$ogg")"; done
  rm -rf "$scratch"
  echo "$dir"
}

# --- Model files read by OpenSceneGraph's own readers behind the checks: small PLY files (ASCII,
# both binary orders, a list per face) and the sample's native model, each after the byte that
# chooses the extension (0: ply, 1: osgt, 2: osgb).
modelfile_seeds() {
  local dir="$build/fuzz/seeds-modelfile"
  mkdir -p "$dir"
  local header='ply\nformat %s 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n'
  { printf '\000'; printf "$header" ascii; printf '0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n'; } > "$dir/triangle.ply"
  { printf '\000'; printf "$header" binary_little_endian
    printf '\0\0\0\0\0\0\0\0\0\0\0\0\0\0\200\77\0\0\0\0\0\0\0\0\0\0\0\0\0\0\200\77\0\0\0\0'
    printf '\3\0\0\0\0\1\0\0\0\2\0\0\0'; } > "$dir/triangle-le.ply"
  { printf '\000'; printf "$header" binary_big_endian
    printf '\0\0\0\0\0\0\0\0\0\0\0\0\77\200\0\0\0\0\0\0\0\0\0\0\0\0\0\0\77\200\0\0\0\0\0\0'
    printf '\3\0\0\0\0\0\0\0\1\0\0\0\2'; } > "$dir/triangle-be.ply"
  { printf '\002'; cat "$source_dir/samples/models/cube.osgb"; } > "$dir/cube.osgb"
  echo "$dir"
}

for reader in $readers; do
  work="$build/fuzz/$reader"
  mkdir -p "$work/corpus"
  echo "=== $reader ($seconds s)"
  case $reader in
    # Hostile models, archives and movies may ask for huge buffers: bound memory and time per input.
    kmz|model|movie) options=(-max_len=262144 -rss_limit_mb=2560 -malloc_limit_mb=1024 -timeout=30)
                     reader_seeds="$build/fuzz/seeds_$reader" ;;
    # A sound's header may claim gigabytes: any single allocation above 1 GB counts as a fault.
    audioobject) options=(-max_len=32768 -rss_limit_mb=2560 -malloc_limit_mb=1024 -timeout=30)
                 reader_seeds=$(audio_seeds) ;;
    objectevents) options=(-max_len=16384 -timeout=30 -dict="$source_dir/tools/fuzz/settings.dict")
                  reader_seeds="$seeds" ;;
    # Models played after loading: the model seeds, the skinned and animated walker among them.
    animated) options=(-max_len=262144 -rss_limit_mb=2560 -malloc_limit_mb=1024 -timeout=30)
              reader_seeds="$build/fuzz/seeds_model" ;;
    modelfile) options=(-max_len=65536 -rss_limit_mb=2560 -malloc_limit_mb=1024 -timeout=30)
               reader_seeds=$(modelfile_seeds) ;;
    camera|pattern|multimarker|trackerpatterns)
      reader_seeds=$(tracking_seeds "$reader"); options=(-max_len=16384) ;;
    # A picture's header may claim gigabytes: any single allocation above 1 GB counts as a fault.
    imagetarget)
      reader_seeds=$(tracking_seeds "$reader")
      options=(-max_len=262144 -rss_limit_mb=2560 -malloc_limit_mb=1024 -timeout=30) ;;
    *) options=(-max_len=16384 -dict="$source_dir/tools/fuzz/settings.dict")
       reader_seeds="$seeds" ;;
  esac
  # An input that runs 30 s counts as a hang: libFuzzer's own limit, 20 minutes, stalls the run.
  report=$(cd "$work" && LSAN_OPTIONS="suppressions=$source_dir/tools/fuzz/lsan.supp" "$build/run/novaro_fuzz_$reader" -max_total_time="$seconds" "${options[@]}" \
      -print_final_stats=1 -close_fd_mask=1 -timeout=30 \
      corpus "$reader_seeds" 2>&1 | grep -E "^(stat::|==[0-9]+==|SUMMARY|artifact_prefix|Test unit written|#[0-9]+ *DONE|INFO: .*seed corpus)")
  echo "$report"
  # A crash, a sanitizer report, a leak, a timeout or memory beyond the limits writes a unit.
  if grep -q "Test unit written" <<< "$report"; then
    failed+=("$reader")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Faults found by: ${failed[*]} (inputs under $build/fuzz/<target>/)" >&2
  exit 1
fi
