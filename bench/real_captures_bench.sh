#!/bin/sh
# Builds every real photo set in ../shared/testdata/real/ as a dropped folder, prints its time,
# peak memory and the model's own surface figures (the share no photo saw, the largest plane,
# the small pieces), and renders the model from four sides as <out>/<set>.png to look at.
# Skips with a message when the folder is absent.
#
#   bench/real_captures_bench.sh [build-folder] [detail] [out-folder]
set -eu
build=${1:-build}
detail=${2:-medium}
out=${3:-"$build/real-captures"}
real=../shared/testdata/real
if [ ! -d "$real" ]; then
    echo "real_captures_bench: no real photo sets in $real; skipped"
    exit 0
fi
mkdir -p "$out"
for set in "$real"/*/; do
    name=$(basename "$set")
    rm -rf "${out:?}/$name"
    echo "== $name"
    if ! /usr/bin/time -f "%e s, peak %M KB" -o "$out/$name.time" \
        "$build/tools/reconstruct/pelorin-reconstruct" "$set" "$out/$name" --detail "$detail" \
        > "$out/$name.log" 2>&1; then
        echo "failed: $(tail -n 1 "$out/$name.log")"
        continue
    fi
    cat "$out/$name.time"
    grep -h "^matching\|^likely" "$out/$name.log" || true
    "$build/evaluation/pelorin-evaluate" --model "$out/$name/Output/OBJ" | grep "^surface\."
    bench/render_four_sides.sh "$out/$name/Output/model.glb" "$out/$name"
    echo "pictures: $out/$name-{0,90,180,270}.png"
done
