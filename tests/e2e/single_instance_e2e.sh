#!/usr/bin/env bash
# One studio per data folder, with real processes: a second start on the same folder leaves the
# first alone (a headless first makes it exit non-zero with a reason), a studio on another
# folder runs beside it, and the lock of a killed studio is taken over.
#   single_instance_e2e.sh <pelorin-studio>
set -uo pipefail
. "$(dirname "$0")/studio_process.sh"
studio=$1
work=$(mktemp -d /tmp/pelorin-single.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "single_instance_e2e: $*" >&2; exit 1; }
export XDG_CONFIG_HOME="$work/config" PELORIN_PHOTOGRAMMETRY=replay

# Starts a headless studio on a folder and waits until it listens.
start() {
    PELORIN_STUDIO_HOME="$work/$1" "$studio" --no-window >"$work/$1.log" 2>&1 &
    pids+=($!)
    wait_for_pairing_link "$work/$1.log" && return 0
    cat "$work/$1.log"
    fail "the studio on $1 did not start"
}

start one
first=${pids[0]}
PELORIN_STUDIO_HOME="$work/one" timeout 10 "$studio" --no-window >"$work/second.log" 2>&1
status=$?
[ $status = 1 ] || fail "a second studio on the same folder ended with $status"
grep -q 'already running without a window' "$work/second.log" || fail "no reason: $(cat "$work/second.log")"
kill -0 "$first" 2>/dev/null || fail "the second start stopped the first"

start two  # another folder: both run

kill -KILL "$first"
wait "$first" 2>/dev/null
start one  # the dead studio's lock is taken over
echo "single_instance_e2e: one studio per folder"
