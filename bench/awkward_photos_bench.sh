#!/bin/sh
# The sample's photos as people drop them, at full size: each folder is made by
# pelorin-awkward-photos, built as a dropped folder, and its time and peak memory are printed
# against the plain folder of the same run. A folder that fails prints its sentence.
#
#   bench/awkward_photos_bench.sh [build-folder] [photo-folder] [detail] [folder-name...]
# With folder names, only those run (after the plain folder, which every run needs).
set -eu
build=${1:-build}
photos=${2:-"resources/Sample Photos Statue"}
detail=${3:-medium}
shift $(($# < 3 ? $# : 3))
only=" plain $* "
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name: kinds
folders="plain:plain
turned:turned-3 turned-6 turned-8
odd-sizes:odd-sizes
greyscale:greyscale
deep-and-alpha:png-16 tiff-16 png-alpha
12mp:12mp
48mp:48mp
crowded:plain duplicates motion-blur other-object damaged
two-lenses:two-lenses"

echo "| folder | outcome | time | vs plain | peak memory | vs plain |"
echo "|---|---|---|---|---|---|"
echo "$folders" | while IFS=: read -r name kinds; do
    [ "$only" = " plain  " ] || case "$only" in *" $name "*) ;; *) continue ;; esac
    # shellcheck disable=SC2086
    made=$("$build/tests/pelorin-awkward-photos" "$photos" "$work/$name" $kinds)
    "$build/evaluation/pelorin-evaluate" "$work/$name" --detail "$detail" \
        --json "$work/$name.json" > "$work/$name.txt" 2>&1 || true
    python3 - "$work/$name.json" "$work/plain.json" "$name" "$kinds" "$made" <<'PY'
import json, os, sys
name, kinds, made = sys.argv[3], sys.argv[4], sys.argv[5]
if not os.path.exists(sys.argv[1]):
    said = open(sys.argv[1][:-5] + ".txt").read().strip().splitlines()
    print(f"| {name} ({kinds}; {made}) | failed: {said[-1] if said else '?'} | | | | |")
    sys.exit(0)
run = json.load(open(sys.argv[1]))
plain = json.load(open(sys.argv[2]))
seconds, memory = run["totalSeconds"], run["peakMemoryMegabytes"]
outcome = (f"{run['photosRegistered']} of {run['photos']} registered" if "photos" in run
           else run.get("error", "failed"))
print(f"| {name} ({kinds}; {made}) | {outcome} | {seconds:.0f} s | "
      f"{seconds / plain['totalSeconds']:.2f}x | {memory:.0f} MB | "
      f"{memory / plain['peakMemoryMegabytes']:.2f}x |", flush=True)
PY
    rm -rf "${work:?}/$name"
done
