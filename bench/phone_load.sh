#!/usr/bin/env bash
# Load on the studio's link service: 8 command-line phones upload 100 photos of 1 MB each at
# once over loopback. Checks that every capture completes with every byte on disk, and prints
# the studio's peak memory (goal: under 300 MB) against its memory at rest before the uploads.
#   bench/phone_load.sh [build folder]
set -euo pipefail
build=${1:-build}
studio="$build/studio/app/pelorin-studio"
phone="$build/tools/phone/pelorin-phone"
work=$(mktemp -d /tmp/pelorin-load.XXXXXX)
studio_pid=""
cleanup() {
    [ -n "$studio_pid" ] && kill "$studio_pid" 2>/dev/null && wait "$studio_pid" 2>/dev/null
    [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

phones=8 photos=100
for p in $(seq $phones); do
    mkdir -p "$work/phone$p"
    for i in $(seq -w 1 $photos); do head -c 1000000 /dev/urandom >"$work/phone$p/IMG_$i.jpg"; done
done

export PELORIN_STUDIO_HOME="$work/home" XDG_CONFIG_HOME="$work/config" PELORIN_PHOTOGRAMMETRY=replay
"$studio" --no-window >"$work/studio.log" 2>&1 &
studio_pid=$!
for _ in $(seq 100); do grep -q '^pairing link: ' "$work/studio.log" && break; sleep 0.1; done
link=$(sed -n 's/^pairing link: //p' "$work/studio.log")
rest=$(awk '/VmHWM/ {print $2}' /proc/$studio_pid/status)

start=$(date +%s.%N)
for p in $(seq $phones); do
    "$phone" --link "$link" upload "$work/phone$p" --out "$work/phone$p" >"$work/phone$p.log" 2>&1 &
done
failed=0
for job in $(jobs -p); do [ "$job" = "$studio_pid" ] || wait "$job" || failed=1; done
end=$(date +%s.%N)
peak=$(awk '/VmHWM/ {print $2}' /proc/$studio_pid/status)

for p in $(seq $phones); do
    capture=$(sed -n 's/^capture \([0-9A-F-]*\):.*/\1/p' "$work/phone$p.log")
    for photo in "$work/phone$p"/IMG_*.jpg; do
        cmp -s "$photo" "$PELORIN_STUDIO_HOME/Jobs/$capture/Images/$(basename "$photo")" || {
            echo "phone $p: $(basename "$photo") differs on disk"
            failed=1
        }
    done
    grep -q '^model: ' "$work/phone$p.log" || { echo "phone $p did not finish"; failed=1; }
done
echo "uploads: $phones phones x $photos photos x 1 MB in $(echo "$end - $start" | bc) s (each job also built and downloaded)"
echo "studio peak memory: $((peak / 1024)) MB (goal < 300 MB); at rest before the uploads: $((rest / 1024)) MB"
echo "ratio peak / rest: $(echo "scale=2; $peak / $rest" | bc)"
exit $failed
