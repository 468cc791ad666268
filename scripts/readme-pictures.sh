#!/usr/bin/env bash
# Refreshes the README's pictures under docs/ from the last `./run demo`: each screenshot cut to
# the windows on it (the desktop around them is black) and kept small.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
screens="$top/build/demo/screens"
[ -d "$screens" ] || { echo "no demo screenshots: run ./run demo first" >&2; exit 1; }
mkdir -p "$top/docs"
for name in 1-setting 2-settings-open 3-running 4-finished-starting; do
  # The setup's windows sit in the middle of the screen; the product's (top left) is left out.
  convert "$screens/$name.png" -crop 680x595+300+205 +repage -bordercolor black -border 1 -fuzz 2% -trim +repage \
    -resize 80% -strip PNG24:"$top/docs/$name.png"
  echo "docs/$name.png"
done
