#!/usr/bin/env bash
# The main job: a whole installation of the test product with setup.exe under Wine against the
# local services. A driver presses the window's buttons as a user would and takes a screenshot
# of each page it passes (setting, settings open, running, finished with the product starting);
# then the run is summed up: time per phase, bytes fetched, events sent, where the pictures are.
# Called by `./run demo` with the build folder; the display and Wine prefix are already set up.
set -euo pipefail
build=$1
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/build/demo"
rm -rf "$out"; mkdir -p "$out/root" "$out/screens"
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }

services_bin="$build/../native-services/local-services"
packages="$build/tests/fixtures/packages"
# The signed test package, named as the skin downloads it.
package="$packages/OrbalaLumeno_Setup.exe"
[ -f "$package" ] || package=""
[ -x "$services_bin" ] || { echo "local services not built: $services_bin" >&2; exit 1; }
[ -n "$package" ] || { echo "test packages not built: $packages" >&2; exit 1; }
[ -f "$build/demo_driver.exe" ] || { echo "demo driver not built: $build/demo_driver.exe" >&2; exit 1; }

# The signed test package, served under the name the skin downloads.
cp "$package" "$out/root/OrbalaLumeno_Setup.exe"
cert_args=()
[ -s "$build/../test-authority/cert.pem" ] && cert_args=(--cert-dir "$build/../test-authority")
# The local deployment's setup talks to the default ports.
# The carousel shows the skin's own pictures, as a maker's banner service would.
"$services_bin" --parent-pid $$ --root "$out/root" --record "$out/requests.jsonl" "${cert_args[@]}" \
  --banner-dir "$top/skin/skin/anima" \
  > "$out/services.txt" 2>&1 &
services_pid=$!
trap 'kill $services_pid 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do grep -q '^https ' "$out/services.txt" 2>/dev/null && break; sleep 0.05; done
grep -q '^https ' "$out/services.txt" || { cat "$out/services.txt" >&2; exit 1; }
echo "== local services"; cat "$out/services.txt"
curl -s -o /dev/null -d '{"Process_name":"OrbalaLumeno.exe","Install_url":""}' http://127.0.0.1:47080/__control/config
# The download paced as on a home line (400 KB/s per connection): the running page is on the
# screen, with its progress, when the driver takes its picture instead of being over already.
curl -s -o /dev/null -d '{"path":"/download/","throttle":400000}' http://127.0.0.1:47080/__control/faults

# The setup trusts the packages' signing authority only once the machine does.
"$WINE" certutil -addstore Root "$(winpath "$packages/ca/ca.der")" >/dev/null 2>&1 || true

# A clean machine for the product: not installed, not running.
product_dir="${WINEPREFIX}/drive_c/Program Files/Orbala/Orbala Lumeno"
rm -f "$product_dir/launches.txt"

echo "== setup.exe under Wine, driven as a user"
cp "$build/setup.exe" "$out/setup.exe"
start=$(date +%s.%N)
# Through a file, not a pipe: the product the setup starts inherits the output and runs on.
"$WINE" "$build/demo_driver.exe" "$(winpath "$out/setup.exe")" "$out/screens" > "$out/driver.txt" 2>&1 || true
grep -v '^wine: ' "$out/driver.txt" || true
end=$(date +%s.%N)

echo "== the product"
if [ -f "$product_dir/launches.txt" ]; then
  echo "started: $(cat "$product_dir/launches.txt")"
else
  echo "the product did not record a start"
fi
# The product runs on; the demo ends it.
"$WINE" taskkill /f /im OrbalaLumeno.exe >/dev/null 2>&1 || true

echo "== summary"
python3 - "$out/requests.jsonl" "$start" "$end" "$out/root/OrbalaLumeno_Setup.exe" <<'EOF'
import json, sys
reqs = [json.loads(l) for l in open(sys.argv[1]) if l.strip()]
def count(prefix): return sum(1 for r in reqs if r.get("path", "").startswith(prefix))
import os
size = os.path.getsize(sys.argv[4])
fetched = 0
for r in reqs:
    if not r.get("path", "").startswith("/download/") or r.get("method") != "GET":
        continue
    rng = next((v for k, v in r.get("headers", {}).items() if k.lower() == "range"), "")
    if rng.startswith("bytes=") and "-" in rng and "," not in rng:
        a, b = rng[6:].split("-", 1)
        a = int(a) if a else size - int(b)
        b = min(int(b), size - 1) if b and rng[6:].split("-")[0] else size - 1
        fetched += max(0, b - a + 1)
    else:
        fetched += size
print(f"whole run            {float(sys.argv[3]) - float(sys.argv[2]):6.1f} s")
print(f"configuration asks   {count('/queryDownloaderV2')}")
print(f"download requests    {count('/download/')}, {fetched} bytes sent of a {size} byte package")
print(f"events sent          {count('/collect')} funnel, {count('/g/collect')} GA4")
EOF
logdir=$(find "${WINEPREFIX}/drive_c/users" -type d -path '*VUDezivazaru/logs*' -print -quit 2>/dev/null || true)
[ -n "$logdir" ] && echo "log folder           $logdir"
echo "screenshots          $out/screens: $(ls "$out/screens" | tr '\n' ' ')"
# One sheet of every picture, in the order the user saw them.
if montage "$out"/screens/*.png -tile 3x -geometry 640x400+8+8 -background '#F4F3FB' "$out/contact-sheet.png" 2>/dev/null; then
  echo "contact sheet        $out/contact-sheet.png"
fi
