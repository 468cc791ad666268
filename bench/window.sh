#!/usr/bin/env bash
# Window benchmark: setup.exe started under Wine (bench/window_probe.exe) until its installer
# window is completely painted, then left idle: the time to the first paint, the idle window's
# CPU (percent of one core) and its private memory. Repeats and prints the medians.
#   bench/window.sh BUILD_DIR   (bench/run.sh runs it with the others)
# Environment: BENCH_ROUNDS (5), BENCH_IDLE_S (10)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: bench/window.sh BUILD_DIR}
. "$top/scripts/wine-env.sh"
probe="$build/bench/window_probe.exe"
[ -f "$probe" ] || { echo "not built: $probe (./run build)" >&2; exit 2; }
rounds=${BENCH_ROUNDS:-5}
idle=${BENCH_IDLE_S:-10}
ensure_display
work=$(mktemp -d "${TMPDIR:-/tmp}/orbala-window.XXXXXX")
trap 'rm -rf "$work"' EXIT
# A copy in a folder of its own, as a user's download would be.
cp "$build/setup.exe" "$work/setup.exe"
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
"$WINE" cmd /c exit 0 >/dev/null 2>&1 || true   # the Wine server is up before the first round
median() { sort -n | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
: > "$work/paint"; : > "$work/cpu"; : > "$work/mem"
for round in $(seq 1 "$rounds"); do
  # Through a file: the setup's hidden delivery copy inherits the output and outlives the probe.
  "$WINE" "$probe" "$(winpath "$work/setup.exe")" "$idle" > "$work/out" 2>&1 || true
  out=$(tr -d '\r' < "$work/out")
  echo "$out" | awk '/^first_paint_ms/ {print $2}' >> "$work/paint"
  echo "$out" | awk '/^idle_cpu_percent/ {print $2}' >> "$work/cpu"
  # Wine reports no private bytes (0): the working set stands in, an upper bound of them.
  echo "$out" | awk '/^private_mb/ {p = $2} /^working_set_mb/ {w = $2} END {print (p > 0) ? p : w}' >> "$work/mem"
  grep -q '^first_paint_ms' <<< "$out" || { echo "round $round failed: $out" >&2; exit 1; }
done
echo "== installer window ($rounds rounds, idle measured over $idle s)"
printf '  first paint   %6s ms after the process start (goal: 300)\n' "$(median < "$work/paint")"
printf '  idle window   %6s %% of one core (goal: 0)\n' "$(median < "$work/cpu")"
printf '  memory        %6s MB private (working set where Wine reports no private bytes; goal: under 40)\n' "$(median < "$work/mem")"
