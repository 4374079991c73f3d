#!/usr/bin/env bash
# Renders a GLB or OBJ model from four sides (front, right, back, left, a little from above)
# under Xvfb, as <prefix>-0.png ... <prefix>-270.png, and one picture of all four side by side
# as <prefix>.png when ImageMagick's montage is there.
#   render_four_sides.sh <model.glb|model.obj> <prefix>
set -euo pipefail
model=$1
prefix=$2
command -v f3d >/dev/null || { echo "render_four_sides: f3d is not installed (apt-get install f3d)" >&2; exit 2; }
for azimuth in 0 90 180 270; do
    xvfb-run -a -s "-screen 0 1024x768x24" f3d "$model" --output="$prefix-$azimuth.png" \
        --resolution=640,640 --camera-azimuth-angle=$azimuth --camera-elevation-angle=20 \
        --up=+Y --bg-color=0.25,0.25,0.28 >/dev/null 2>&1
done
if command -v montage >/dev/null; then
    montage "$prefix"-{0,90,180,270}.png -tile 4x1 -geometry 400x400+2+2 "$prefix.png"
fi
