#!/usr/bin/env bash
# Every command-line tool: --help prints its usage to standard output with status 0, whole lines
# only, --version its version, and a wrong argument the usage on standard error with status 2.
# pelorin-reconstruct, run on the replay backend into a relative folder, names files that exist.
#   tool_arguments.sh <tool>...
set -uo pipefail
failed=0
photos="$(cd "$(dirname "$0")/../data/statue-reduced/photos" && pwd)"
for tool in "$@"; do
    name=$(basename "$tool")
    out=$("$tool" --help 2>/dev/null); status=$?
    { [ $status = 0 ] && [[ "$out" == usage:* ]]; } || { echo "$name --help: status $status"; failed=1; }
    [ "$("$tool" --help 2>/dev/null | tail -c 1 | od -An -tx1 | tr -d ' ')" = 0a ] ||
        { echo "$name --help: the last line has no newline"; failed=1; }
    out=$("$tool" --version 2>/dev/null); status=$?
    { [ $status = 0 ] && [[ "$out" == "$name "[0-9]* ]]; } || { echo "$name --version: $out"; failed=1; }
    err=$("$tool" --no-such-option 2>&1 >/dev/null); status=$?
    { [ $status = 2 ] && [[ "$err" == usage:* ]]; } || { echo "$name with a wrong argument: status $status"; failed=1; }
    if [ "$name" = pelorin-reconstruct ]; then
        work=$(mktemp -d)
        printed=$(cd "$work" && PELORIN_PHOTOGRAMMETRY=replay "$tool" "$photos" out --detail preview \
            2>&1 | grep -E '^(model|obj): ')
        [ -n "$printed" ] || { echo "$name printed no model"; failed=1; }
        while read -r kind path; do
            [ -e "$work/$path" ] || { echo "$name printed $kind $path, which is not there"; failed=1; }
        done <<< "$printed"
        rm -rf "$work"
    fi
done
[ $failed = 0 ] && echo "tool_arguments: every tool answered"
exit $failed
