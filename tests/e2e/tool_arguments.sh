#!/usr/bin/env bash
# Every command-line tool: --help prints its usage to standard output with status 0, --version
# its version, and a wrong argument the usage on standard error with status 2.
#   tool_arguments.sh <tool>...
set -uo pipefail
failed=0
for tool in "$@"; do
    name=$(basename "$tool")
    out=$("$tool" --help 2>/dev/null); status=$?
    { [ $status = 0 ] && [[ "$out" == usage:* ]]; } || { echo "$name --help: status $status"; failed=1; }
    out=$("$tool" --version 2>/dev/null); status=$?
    { [ $status = 0 ] && [[ "$out" == "$name "[0-9]* ]]; } || { echo "$name --version: $out"; failed=1; }
    err=$("$tool" --no-such-option 2>&1 >/dev/null); status=$?
    { [ $status = 2 ] && [[ "$err" == usage:* ]]; } || { echo "$name with a wrong argument: status $status"; failed=1; }
done
[ $failed = 0 ] && echo "tool_arguments: every tool answered"
exit $failed
