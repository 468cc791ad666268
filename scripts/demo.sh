#!/usr/bin/env bash
# The main job: start the local services, run setup.exe under Wine against them, take a
# screenshot of the display, close the window and show what the run left (its output and log).
# Called by `./run demo` with the build folder; the display and Wine prefix are already set up.
set -euo pipefail
build=$1
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/build/demo"
rm -rf "$out"; mkdir -p "$out"

services_pid=""
services_bin="$build/../native-services/local-services"
if [ -x "$services_bin" ]; then
  # The certificate signed by the build's test authority, which the local build of the setup trusts.
  cert_args=()
  [ -s "$build/../test-authority/cert.pem" ] && cert_args=(--cert-dir "$build/../test-authority")
  "$services_bin" --parent-pid $$ --record "$out/requests.jsonl" "${cert_args[@]}" > "$out/services.txt" 2>&1 &
  services_pid=$!
  sleep 1
  echo "== local services"; cat "$out/services.txt"
fi

echo "== setup.exe under Wine"
"$WINE" "$build/setup.exe" > "$out/setup-output.txt" 2>&1 &
setup_pid=$!
sleep 8
import -window root "$out/screen-start.png" 2>/dev/null && echo "screenshot: $out/screen-start.png"
# Ask the installer window to close, as the user would.
"$WINE" "$build/close_setup_window.exe" >/dev/null 2>&1 || echo "no installer window to close"
for i in $(seq 1 50); do kill -0 $setup_pid 2>/dev/null || break; sleep 0.2; done
if kill -0 $setup_pid 2>/dev/null; then wineserver -k 2>/dev/null || true; fi
wait $setup_pid 2>/dev/null || true
[ -n "$services_pid" ] && kill $services_pid 2>/dev/null || true

echo "== output of setup.exe"
cat "$out/setup-output.txt"
logdir=$(find "${WINEPREFIX}/drive_c/users" -type d -path '*VUDezivazaru/logs*' 2>/dev/null | head -1)
if [ -n "$logdir" ]; then
  echo "== newest log file in $logdir"
  newest=$(ls -t "$logdir"/*/*.log "$logdir"/*.log 2>/dev/null | head -1 || true)
  [ -n "$newest" ] && tail -n 40 "$newest"
fi
echo "== results in $out"
ls -la "$out"
