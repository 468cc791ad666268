#!/usr/bin/env bash
# Runs a Windows program under the project's Wine prefix (used by ctest as the emulator).
# Its output goes through a file: processes it leaves running (the setup's hidden delivery
# copy, for one) inherit that file instead of the caller's pipe, so the caller sees the end of
# the program itself rather than waiting for every descendant.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
out=$(mktemp "${TMPDIR:-/tmp}/orbala-wine-run.XXXXXX")
"$WINE" "$@" >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
