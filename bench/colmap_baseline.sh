#!/bin/sh
# COLMAP with its defaults making the sparse model alone from a folder's JPEGs: features (CPU),
# the given matcher, mapping. Prints one line: the seconds, each stage's, and the photos
# registered.
#
#   bench/colmap_baseline.sh <photo-folder> <sequential_matcher|exhaustive_matcher>
set -eu
photos=$1
matcher=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds() { date +%s.%N; }

mkdir -p "$work/images" "$work/sparse"
cp "$photos"/*.jpg "$work/images/"
cd "$work"
start=$(seconds)
colmap feature_extractor --database_path db.db --image_path images \
    --SiftExtraction.use_gpu 0 > log.txt 2>&1
extracted=$(seconds)
colmap "$matcher" --database_path db.db --SiftMatching.use_gpu 0 >> log.txt 2>&1
matched=$(seconds)
colmap mapper --database_path db.db --image_path images --output_path sparse >> log.txt 2>&1
mapped=$(seconds)
registered=$(colmap model_analyzer --path sparse/0 2>&1 | sed -n 's/.*Registered images: //p')
echo "COLMAP defaults, $matcher, sparse model only: $(echo "$mapped - $start" | bc) s" \
    "(extraction $(echo "$extracted - $start" | bc) s," \
    "matching $(echo "$matched - $extracted" | bc) s, mapping $(echo "$mapped - $matched" | bc) s," \
    "registered $registered)"
