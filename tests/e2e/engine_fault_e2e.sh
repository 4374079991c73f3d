#!/usr/bin/env bash
# A fault in a reconstruction step's workers, as the engine meets it when memory runs out: the
# studio without a window fails that job with its sentence and goes on serving the phone.
#   engine_fault_e2e.sh <pelorin-studio> <pelorin-phone> <photo-folder>
set -euo pipefail
. "$(dirname "$0")/studio_process.sh"
studio=$1
phone=$2
source=$3
work=$(mktemp -d /tmp/pelorin-e2e.XXXXXX)
studio_pid=""
cleanup() {
    [ -n "$studio_pid" ] && kill "$studio_pid" 2>/dev/null && wait "$studio_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "engine_fault_e2e: $*"; cat "$work/studio.log"; exit 1; }

mkdir -p "$work/photos"
cp "$source"/*.jpg "$work/photos/"
export PELORIN_STUDIO_HOME="$work/home" XDG_CONFIG_HOME="$work/config"
export PELORIN_PHOTOGRAMMETRY=local PELORIN_PARALLEL_FAULT="depth maps:memory"
"$studio" --no-window >"$work/studio.log" 2>&1 &
studio_pid=$!
wait_for_pairing_link "$work/studio.log" || true
link=$(sed -n 's/^pairing link: //p' "$work/studio.log")
[ -n "$link" ] || fail "the studio did not start listening"

timeout 600 "$phone" --link "$link" upload "$work/photos" --out "$work/downloads" \
    >"$work/upload.log" 2>&1 || true
job=$(sed -n 's/^capture \([0-9A-F-]*\):.*/\1/p' "$work/upload.log" | head -n 1)
[ -n "$job" ] || fail "the upload made no job: $(cat "$work/upload.log")"
kill -0 "$studio_pid" 2>/dev/null || fail "the studio ended during the run"
# The phone may stop following before the run reaches the fault on a loaded machine: ask until
# the job has ended.
for _ in $(seq 1 120); do
    timeout 30 "$phone" --link "$link" status "$job" >"$work/status.log" ||
        fail "the studio did not answer after the fault"
    grep -q "^$job \(Failed\|Finished\|Cancelled\)" "$work/status.log" && break
    sleep 5
done
grep -q "^$job Failed.*ran out of memory" "$work/status.log" ||
    fail "the job does not say it ran out of memory: $(cat "$work/status.log")"
# Still serving: a new pairing works.
timeout 30 "$phone" --link "$link" pair >/dev/null || fail "a phone could not pair after the fault"
echo "engine_fault_e2e: the failed job says so and the studio goes on serving"
