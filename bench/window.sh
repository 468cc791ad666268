#!/usr/bin/env bash
# Window benchmark: setup.exe started under Wine (bench/window_probe.exe) until its installer
# window is completely painted, then left idle: the time to the first paint, the idle window's
# CPU (percent of one core) and its private memory. The same for bench/plain_window.exe, the
# smallest window Wine can show, so that what Wine itself costs shows beside the setup's figures.
# Repeats and prints the medians.
#   bench/window.sh BUILD_DIR   (bench/run.sh runs it with the others)
# Environment: BENCH_ROUNDS (5), BENCH_IDLE_S (10)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: bench/window.sh BUILD_DIR}
. "$top/scripts/wine-env.sh"
probe="$build/bench/window_probe.exe"
for f in "$probe" "$build/bench/plain_window.exe" "$build/setup.exe"; do
  [ -f "$f" ] || { echo "not built: $f (./run build)" >&2; exit 2; }
done
rounds=${BENCH_ROUNDS:-5}
idle=${BENCH_IDLE_S:-10}
ensure_display
work=$(mktemp -d "${TMPDIR:-/tmp}/orbala-window.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Each program in a folder of its own under the name setup.exe, as a user's download would be.
mkdir -p "$work/setup" "$work/plain"
cp "$build/setup.exe" "$work/setup/setup.exe"
cp "$build/bench/plain_window.exe" "$work/plain/setup.exe"
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
"$WINE" cmd /c exit 0 >/dev/null 2>&1 || true   # the Wine server is up before the first round
median() { sort -n | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

# Private memory as the host counts it (clean and dirty pages mapped by this process alone), in
# MB: Wine reports no private bytes to Windows programs.
host_private_mb() {
  awk '/^Private_(Clean|Dirty):/ {kb += $2} END {printf "%.1f", kb / 1024}' "/proc/$1/smaps_rollup"
}

# The host's process id of the Windows program started as exactly PATH with no arguments (the
# setup's hidden delivery copy has the same path and an argument).
host_pid() {
  local p
  for p in $(pgrep -f 'setup\.exe' || true); do
    [ "$(tr '\0' ' ' < "/proc/$p/cmdline" 2>/dev/null | sed 's/ *$//')" = "$1" ] && { echo "$p"; return 0; }
  done
  return 0
}

# measure NAME: one round of the program in $work/NAME; appends to $work/NAME.{paint,cpu,mem}.
measure() {
  local name=$1 exe="$work/$1/setup.exe" out="$work/$1.out" marker="$work/$1.measured" pid=
  rm -f "$marker"
  # Through a file: the setup's hidden delivery copy inherits the output and outlives the probe.
  "$WINE" "$probe" "$(winpath "$exe")" "$idle" "$(winpath "$marker")" > "$out" 2>&1 &
  local probe_pid=$!
  for _ in $(seq 1 $(( (idle + 90) * 10 ))); do
    grep -q '^ready' "$out" 2>/dev/null && break
    kill -0 "$probe_pid" 2>/dev/null || break
    sleep 0.1
  done
  pid=$(host_pid "$(winpath "$exe")")
  local mem=
  [ -n "$pid" ] && [ -r "/proc/$pid/smaps_rollup" ] && mem=$(host_private_mb "$pid")
  touch "$marker"
  wait "$probe_pid" || true
  local text
  text=$(tr -d '\r' < "$out")
  grep -q '^first_paint_ms' <<< "$text" || { echo "$name: no painted window: $text" >&2; exit 1; }
  awk '/^first_paint_ms/ {print $2}' <<< "$text" >> "$work/$name.paint"
  awk '/^idle_cpu_percent/ {print $2}' <<< "$text" >> "$work/$name.cpu"
  [ -n "$mem" ] && echo "$mem" >> "$work/$name.mem"
  return 0
}

for name in setup plain; do : > "$work/$name.paint"; : > "$work/$name.cpu"; : > "$work/$name.mem"; done
for round in $(seq 1 "$rounds"); do
  measure plain
  measure setup
done
echo "== installer window ($rounds rounds, idle measured over $idle s; medians)"
printf '  first paint   %6s ms after the process start (goal: 300); smallest Wine window %s ms\n' \
  "$(median < "$work/setup.paint")" "$(median < "$work/plain.paint")"
printf '  idle window   %6s %% of one core (goal: 0); smallest Wine window %s %%\n' \
  "$(median < "$work/setup.cpu")" "$(median < "$work/plain.cpu")"
printf '  memory        %6s MB private as the host counts it (goal: under 40); smallest Wine window %s MB\n' \
  "$(median < "$work/setup.mem")" "$(median < "$work/plain.mem")"
