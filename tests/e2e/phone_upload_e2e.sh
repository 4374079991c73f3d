#!/usr/bin/env bash
# The studio without a window and a command-line phone, as separate processes over loopback:
# pair, upload 12 photos, follow the job to the end, download and check the model; then an
# upload cut off half-way and resumed.
#   phone_upload_e2e.sh <pelorin-studio> <pelorin-phone>
set -euo pipefail
. "$(dirname "$0")/studio_process.sh"
studio=$1
phone=$2
work=$(mktemp -d /tmp/pelorin-e2e.XXXXXX)
studio_pid=""
cleanup() {
    [ -n "$studio_pid" ] && kill "$studio_pid" 2>/dev/null && wait "$studio_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

photos() {
    mkdir -p "$1"
    for i in $(seq -w 1 12); do head -c $((20000 + 10#$i * 997)) /dev/urandom >"$1/IMG_$i.jpg"; done
}
photos "$work/first"
photos "$work/second"

export PELORIN_STUDIO_HOME="$work/home" XDG_CONFIG_HOME="$work/config" PELORIN_PHOTOGRAMMETRY=replay
"$studio" --no-window >"$work/studio.log" 2>&1 &
studio_pid=$!
wait_for_pairing_link "$work/studio.log" || true
link=$(sed -n 's/^pairing link: //p' "$work/studio.log")
[ -n "$link" ] || { echo "the studio did not start listening"; cat "$work/studio.log"; exit 1; }

mkdir -p "$work/downloads"
timeout 120 "$phone" --link "$link" upload "$work/first" --out "$work/downloads" | tee "$work/first.log"
model=$(sed -n 's/^model: //p' "$work/first.log")
[ -f "$model" ] || { echo "no model was downloaded"; exit 1; }
unzip -tq "$model"
job=$(sed -n 's/^capture \([0-9A-F-]*\):.*/\1/p' "$work/first.log")
for photo in "$work"/first/*.jpg; do
    cmp "$photo" "$PELORIN_STUDIO_HOME/Jobs/$job/Images/$(basename "$photo")"
done
[ -f "$PELORIN_STUDIO_HOME/Jobs/$job/Output/model.glb" ] || { echo "no GLB copy"; exit 1; }

# Cut off after 6 photos, then resumed: the second run finds those 6 already there.
printf '{"appVersion":"1","createdAt":0,"deviceModel":"Pixel 8","id":"%s","images":[' \
    "$(cat /proc/sys/kernel/random/uuid | tr a-z A-Z)" >"$work/second/capture.json"
first=1
for photo in "$work"/second/*.jpg; do
    [ $first = 1 ] || printf ',' >>"$work/second/capture.json"
    first=0
    printf '{"bytes":%d,"capturedAt":0,"fileName":"%s","hasDepth":false}' \
        "$(stat -c %s "$photo")" "$(basename "$photo")" >>"$work/second/capture.json"
done
printf '],"name":"Resumed","options":{}}' >>"$work/second/capture.json"
status=0
timeout 60 "$phone" --link "$link" upload "$work/second" --stop-after 6 --out "$work/downloads" || status=$?
[ "$status" = 3 ] || { echo "the cut-off upload ended with $status"; exit 1; }
timeout 120 "$phone" --link "$link" upload "$work/second" --out "$work/downloads" | tee "$work/second.log"
grep -q 'sent 6 photos, 6 already there' "$work/second.log"
grep -q '^model: ' "$work/second.log"
