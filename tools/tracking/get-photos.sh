#!/usr/bin/env bash
# Photographs for the tracker benchmark's photo background (novaro-bench-tracker --hard-cases
# --photos DIR): scenes a camera sees behind a marker (a room, a desk, a shelf, a building, a
# street, fruit, a face) from the sample images of the Debian package opencv-doc (Apache-2.0 and
# BSD-3-Clause, see its copyright file). The package is downloaded and unpacked here, not installed.
# Usage: tools/tracking/get-photos.sh DIR
set -euo pipefail
target=${1:?usage: get-photos.sh DIR}
mkdir -p "$target"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get download opencv-doc > /dev/null)
dpkg-deb -x "$work"/opencv-doc_*.deb "$work/x"
data="$work/x/usr/share/doc/opencv-doc/examples/data"
for photo in home.jpg stuff.jpg building.jpg box_in_scene.png fruits.jpg baboon.jpg aero1.jpg aero3.jpg \
  basketball1.png leuvenA.jpg graf1.png pca_test1.jpg messi5.jpg left01.jpg squirrel_cls.jpg butterfly.jpg \
  orange.jpg ela_original.jpg; do
  cp "$data/$photo" "$target/"
done
cp "$work/x/usr/share/doc/opencv-doc/copyright" "$target/copyright.opencv-doc"
echo "$(ls "$target" | grep -vc copyright) photographs in $target (opencv-doc $(dpkg-deb -f "$work"/opencv-doc_*.deb Version))"
