#!/usr/bin/env bash
# Every command of pelorin-phone against a real studio without a window, over loopback; then
# the studio is stopped with SIGTERM while two phones are in the middle of a download.
#   phone_commands_e2e.sh <pelorin-studio> <pelorin-phone>
set -euo pipefail
. "$(dirname "$0")/studio_process.sh"
studio=$1
phone=$2
work=$(mktemp -d /tmp/pelorin-e2e.XXXXXX)
studio_pid=""
phone_pids=()
cleanup() {
    for pid in "${phone_pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    [ -n "$studio_pid" ] && kill -KILL "$studio_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "phone_commands_e2e: $*" >&2; exit 1; }

mkdir -p "$work/photos" "$work/downloads"
for i in $(seq -w 1 12); do head -c 30000 /dev/urandom >"$work/photos/IMG_$i.jpg"; done
export PELORIN_STUDIO_HOME="$work/home" XDG_CONFIG_HOME="$work/config" PELORIN_PHOTOGRAMMETRY=replay
"$studio" --no-window >"$work/studio.log" 2>&1 &
studio_pid=$!
wait_for_pairing_link "$work/studio.log" || true
link=$(sed -n 's/^pairing link: //p' "$work/studio.log")
port=$(sed -n 's/^listening on port //p' "$work/studio.log")
[ -n "$link" ] || { cat "$work/studio.log"; fail "the studio did not start listening"; }

"$phone" --help | grep -q 'download <id>' || fail "--help does not list the commands"
status=0; "$phone" fly 2>/dev/null || status=$?
[ "$status" = 2 ] || fail "an unknown command ended with $status, not 2"

timeout 30 "$phone" --link "$link" pair | grep -q '^paired with ' || fail "pair did not pair"
status=0
timeout 30 "$phone" --host 127.0.0.1 --port "$port" --code 000000 pair 2>"$work/wrong.err" || status=$?
[ "$status" = 1 ] && [ "$(wc -l <"$work/wrong.err")" = 1 ] ||
    fail "a wrong code ended with $status and said: $(cat "$work/wrong.err")"

timeout 120 "$phone" --link "$link" upload "$work/photos" --out "$work/downloads" >"$work/upload.log"
job=$(sed -n 's/^capture \([0-9A-F-]*\):.*/\1/p' "$work/upload.log")
[ -n "$job" ] || fail "upload printed no capture"

timeout 30 "$phone" --link "$link" status "$job" | grep -q "^$job Finished 100%" || fail "status"
unknown=$(tr a-z A-Z </proc/sys/kernel/random/uuid)
status=0
timeout 30 "$phone" --link "$link" status "$unknown" >"$work/unknown.log" || status=$?
[ "$status" = 1 ] && grep -q 'does not have that capture' "$work/unknown.log" || fail "status of an unknown job"
timeout 30 "$phone" --link "$link" watch "$job" | grep -q 'Finished' || fail "watch"

timeout 60 "$phone" --link "$link" download "$job" -o "$work/downloads/model.usdz" >/dev/null
cmp "$work/downloads/model.usdz" "$PELORIN_STUDIO_HOME/Jobs/$job/Output/model.usdz"
timeout 60 "$phone" --link "$link" download "$job" --format glb -o "$work/downloads/model.glb" >/dev/null
cmp "$work/downloads/model.glb" "$PELORIN_STUDIO_HOME/Jobs/$job/Output/model.glb"

status=0
timeout 30 "$phone" --link "$link" cancel "$job" >/dev/null 2>"$work/cancel.err" || status=$?
[ "$status" = 1 ] && grep -q 'not running' "$work/cancel.err" || fail "cancel of a finished job"

# Two phones stall half-way through a large download; SIGTERM must still end the studio at once.
# A sparse gigabyte: the phones cannot finish it before they are stopped.
truncate -s 1G "$PELORIN_STUDIO_HOME/Jobs/$job/Output/model.usdz"
for i in 1 2; do
    "$phone" --link "$link" download "$job" --out "$work/big$i" >/dev/null 2>&1 &
    phone_pids+=($!)
    mkdir -p "$work/big$i"
done
# Stop each phone once its download has begun, as a phone whose network stalls.
for i in 1 2; do
    for _ in $(seq 500); do
        [ -n "$(find "$work/big$i" -name '*.usdz' -size +0 2>/dev/null)" ] && break
        sleep 0.01
    done
    kill -STOP "${phone_pids[$((i - 1))]}" || fail "phone $i ended before it was stopped"
done
sleep 0.5
kill -TERM "$studio_pid"
for _ in $(seq 20); do
    kill -0 "$studio_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$studio_pid" 2>/dev/null && fail "the studio was still running 2 s after SIGTERM"
status=0; wait "$studio_pid" || status=$?
studio_pid=""
[ "$status" = 0 ] || fail "the studio ended with $status after SIGTERM"
echo "phone_commands_e2e: every command behaved"
