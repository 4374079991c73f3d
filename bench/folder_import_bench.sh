#!/bin/sh
# Times the statue's photos as a dropped folder (no capture.json: no phone positions, no order)
# against the same photos with their manifest, and against COLMAP's defaults making the sparse
# model alone with exhaustive matching (what a COLMAP user does with unordered photos), all in
# the same run, and prints the ratios.
#
#   bench/folder_import_bench.sh [build-folder] [photo-folder] [detail]
set -eu
build=${1:-build}
photos=${2:-"resources/Sample Photos Statue"}
detail=${3:-medium}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds() { date +%s.%N; }
evaluate() {
    start=$(seconds)
    "$build/evaluation/pelorin-evaluate" "$1" --truth bench/truth/statue --detail "$detail" \
        --json "$work/$2.json" > "$work/$2.txt"
    echo "$(seconds) - $start" | bc
}

manifest=$(evaluate "$photos" manifest)
echo "== with capture.json"
cat "$work/manifest.txt"

mkdir -p "$work/folder"
cp "$photos"/*.jpg "$work/folder/"
folder=$(evaluate "$work/folder" folder)
echo "== as a dropped folder"
cat "$work/folder.txt"

line=$(bench/colmap_baseline.sh "$photos" exhaustive_matcher)
baseline=$(echo "$line" | sed -n 's/.*only: \([0-9.]*\) s.*/\1/p')
echo "== baseline: $line"
echo "with capture.json, whole model at $detail detail: $manifest s"
echo "as a dropped folder, whole model at $detail detail: $folder s"
echo "ratio folder / with capture.json: $(echo "scale=3; $folder / $manifest" | bc)"
echo "ratio folder / COLMAP exhaustive: $(echo "scale=3; $folder / $baseline" | bc)"
