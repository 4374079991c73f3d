#!/bin/sh
# Times a whole reconstruction through pelorin-evaluate against COLMAP's defaults making the
# sparse model alone (features, sequential matching, mapping) from the same photos, in the same
# run, and prints the ratio.
#
#   bench/reconstruction_bench.sh [build-folder] [photo-folder] [detail]
set -eu
build=${1:-build}
photos=${2:-"resources/Sample Photos Statue"}
detail=${3:-medium}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds() { date +%s.%N; }

start=$(seconds)
"$build/evaluation/pelorin-evaluate" "$photos" --truth bench/truth/statue \
    --detail "$detail" --json "$work/ours.json" > "$work/ours.txt"
ours=$(echo "$(seconds) - $start" | bc)
cat "$work/ours.txt"

mkdir -p "$work/colmap/images" "$work/colmap/sparse"
cp "$photos"/*.jpg "$work/colmap/images/"
cd "$work/colmap"
start=$(seconds)
colmap feature_extractor --database_path db.db --image_path images \
    --SiftExtraction.use_gpu 0 > log.txt 2>&1
extracted=$(seconds)
colmap sequential_matcher --database_path db.db --SiftMatching.use_gpu 0 >> log.txt 2>&1
matched=$(seconds)
colmap mapper --database_path db.db --image_path images --output_path sparse >> log.txt 2>&1
mapped=$(seconds)
baseline=$(echo "$mapped - $start" | bc)
echo "baseline: COLMAP defaults, sparse model only: $baseline s" \
    "(extraction $(echo "$extracted - $start" | bc) s," \
    "matching $(echo "$matched - $extracted" | bc) s, mapping $(echo "$mapped - $matched" | bc) s)"
echo "ours, whole model at $detail detail: $ours s"
echo "ratio ours / baseline: $(echo "scale=3; $ours / $baseline" | bc)"
