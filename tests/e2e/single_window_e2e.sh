#!/usr/bin/env bash
# Run under a display (xvfb-run): a second start of the studio on the folder of one with a
# window asks it to come forward and exits with status 0, leaving the first running.
#   single_window_e2e.sh <pelorin-studio>
set -uo pipefail
. "$(dirname "$0")/studio_process.sh"
studio=$1
work=$(mktemp -d /tmp/pelorin-single.XXXXXX)
first=""
cleanup() {
    [ -n "$first" ] && kill -KILL "$first" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "single_window_e2e: $*" >&2; exit 1; }
export PELORIN_STUDIO_HOME="$work/home" XDG_CONFIG_HOME="$work/config" PELORIN_PHOTOGRAMMETRY=replay
export LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb

"$studio" >"$work/first.log" 2>&1 &
first=$!
wait_for_pairing_link "$work/first.log" || { cat "$work/first.log"; fail "the window did not start"; }
timeout 20 "$studio" >"$work/second.log" 2>&1
status=$?
[ $status = 0 ] || { cat "$work/second.log"; fail "the second start ended with $status"; }
for _ in $(seq 50); do
    grep -q 'raised by a second start' "$work/first.log" && break
    sleep 0.1
done
grep -q 'raised by a second start' "$work/first.log" || fail "the first window was not asked to come forward"
kill -0 "$first" 2>/dev/null || fail "the first studio ended"
[ -z "$(grep '^pairing link: ' "$work/second.log")" ] || fail "the second start ran a studio of its own"
echo "single_window_e2e: the second start raised the first window"
