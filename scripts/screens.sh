#!/usr/bin/env bash
# Renders every page of the installer window and every message box kind, in every language of
# the skin, to build/screens/<language>/*.png, then contact sheets: build/screens/contact.png
# (the window's pages, one row per language), build/screens/contact-boxes.png (the message boxes,
# one row per language) and build/screens/<language>/contact.png (everything of one language).
# Without a scale given, the same is also drawn at 200 % (build/screens/at-200/) and with the
# system's high contrast on (build/screens/high-contrast/), each set with its own contact sheets.
# Called by `./run screens [LANGUAGE] [SCALE]` with the build folder; Wine is set up.
set -euo pipefail
build=$1
filter=${2:-all}
scale=${3:-}
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/build/screens"
rm -rf "$out"; mkdir -p "$out"
skin_zip="$build/src/skin.zip"
pages=(1-setting 2-licence 3-settings 4-running 5-finished 6-failed 7-launchhint)

# render_set FOLDER SCALE [hc]: every language into FOLDER/<language>, then its contact sheets.
render_set() {
  local set=$1 set_scale=$2 look=${3:-}
  mkdir -p "$set"
  local tool=("$WINE" "$build/tools/duilib_screens.exe" "Z:${skin_zip//\//\\}" "Z:${set//\//\\}")
  # One process per language: a language whose drawing fails (or hangs) loses its own screens only.
  local rendered=0 failed=() tag n
  for tag in $("${tool[@]}" list 100 | tr -d '\r'); do
    [ "$filter" = all ] || [[ "$tag" == *"$filter"* ]] || continue
    n=$(timeout 90 "${tool[@]}" "=$tag" "$set_scale" $look 2>/dev/null | tr -d '\r' | grep -c '^wrote' || true)
    [ "$n" -gt 0 ] && [ -f "$set/$tag/7-launchhint.png" ] || failed+=("$tag")
    rendered=$((rendered + n))
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
  done
  echo "screens rendered in ${set#$top/}: $rendered"
  [ ${#failed[@]} -eq 0 ] || echo "languages not rendered completely: ${failed[*]}" >&2
  grep -q . <(ls "$set") || { echo "no screens rendered" >&2; return 1; }
  contact_sheets "$set"
}

contact_sheets() {
  local out=$1 dir lang
  local rows=() box_rows=() files boxes
for dir in "$out"/*/; do
  [[ "$(basename "$dir")" == at-* || "$(basename "$dir")" == high-contrast ]] && continue
  lang=$(basename "$dir")
  files=(); for p in "${pages[@]}"; do [ -f "$dir/$p.png" ] && files+=("$dir/$p.png"); done
  boxes=("$dir"/box-*.png)
  # One language: every screen, labelled.
  montage -background '#EDEDF2' -font DejaVu-Sans -pointsize 13 -label '%t' -geometry '+10+10' -tile 4x \
    "${files[@]}" "${boxes[@]}" "$dir/contact.png" 2>/dev/null || true
  montage -background '#EDEDF2' -geometry '+8+8' -tile "${#files[@]}x1" "${files[@]}" "$out/.row-$lang.png" 2>/dev/null && rows+=("$out/.row-$lang.png")
  montage -background '#EDEDF2' -geometry '+6+6' -tile 8x2 $(ls -v "$dir"/box-*.png) "$out/.boxes-$lang.png" 2>/dev/null && box_rows+=("$out/.boxes-$lang.png")
done
if [ ${#rows[@]} -gt 0 ]; then
  montage -background '#DADAE2' -geometry '+0+4' -tile 1x "${rows[@]}" "$out/contact.png"
  montage -background '#DADAE2' -geometry '+0+4' -tile 1x "${box_rows[@]}" "$out/contact-boxes.png"
  rm -f "$out"/.row-*.png "$out"/.boxes-*.png
fi
echo "contact sheets: $out/contact.png $out/contact-boxes.png (one per language in $out/<language>/contact.png)"
}

render_set "$out" "${scale:-100}"
if [ -z "$scale" ]; then
  render_set "$out/at-200" 200
  render_set "$out/high-contrast" 100 hc
fi
