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

line=$(bench/colmap_baseline.sh "$photos" sequential_matcher)
baseline=$(echo "$line" | sed -n 's/.*only: \([0-9.]*\) s.*/\1/p')
echo "baseline: $line"
echo "ours, whole model at $detail detail: $ours s"
echo "ratio ours / baseline: $(echo "scale=3; $ours / $baseline" | bc)"
