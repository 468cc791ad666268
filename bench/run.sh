#!/usr/bin/env bash
# Runs every benchmark script of this folder against the given build folder.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: run.sh BUILD_FOLDER}
for script in "$here"/*.sh; do
  [ "$(basename "$script")" = run.sh ] && continue
  echo "== $(basename "$script" .sh)"
  "$script" "$build"
done
