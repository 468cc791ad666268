#!/usr/bin/env bash
# Runs a Windows program under the project's Wine prefix (used by ctest as the emulator).
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
exec wine "$@"
