#!/usr/bin/env bash
# Download benchmark: the supervised download (download_driver.exe under Wine) against aria2c
# with the same number of connections and curl with one stream, natively, on the same file
# served by the local services on loopback. Runs alternate; each case is repeated and the
# medians of wall time and CPU time (user + system, Wine's server included) are printed with
# the ratio project/peer.
#   bench/download.sh BUILD_DIR   (bench/run.sh runs it with the others)
# Environment: BENCH_SIZE_MIB (1024), BENCH_ROUNDS (3), BENCH_THROTTLED_MIB (256),
#              BENCH_THROTTLE (10000000 bytes/s per connection), BENCH_STALL_S (15)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: bench/download.sh BUILD_DIR}
. "$top/scripts/wine-env.sh"
driver="$build/bench/download_driver.exe"
services="$build/../native-services/local-services"
[ -f "$driver" ] || { echo "not built: $driver (./run build)" >&2; exit 2; }
[ -x "$services" ] || { echo "not built: $services (./run build)" >&2; exit 2; }

size_mib=${BENCH_SIZE_MIB:-1024}
rounds=${BENCH_ROUNDS:-3}
throttled_mib=${BENCH_THROTTLED_MIB:-256}
throttle=${BENCH_THROTTLE:-10000000}
stall_s=${BENCH_STALL_S:-15}
# The driver sizes its pool from the processor count: processors * 8 / 5, at least 4.
conns=$(( $(nproc) * 8 / 5 )); [ "$conns" -lt 4 ] && conns=4

work=$(mktemp -d "${TMPDIR:-/tmp}/orbala-bench.XXXXXX")
spid=
cleanup() { [ -n "$spid" ] && kill "$spid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/root" "$work/out"
head -c $((size_mib * 1048576)) /dev/urandom > "$work/root/bench.exe"
head -c $((throttled_mib * 1048576)) "$work/root/bench.exe" > "$work/root/slow.exe"
head -c $((8 * 1048576)) "$work/root/bench.exe" > "$work/root/stall.exe"
"$services" --http-port 0 --https-port 0 --root "$work/root" --parent-pid $$ \
  --cert-dir "${TMPDIR:-/tmp}/orbala-services-cert" >"$work/services.txt" 2>&1 &
spid=$!
for _ in $(seq 1 100); do grep -q '^http ' "$work/services.txt" 2>/dev/null && break; sleep 0.05; done
base=$(awk '$1 == "http" {print $2}' "$work/services.txt")
[ -n "$base" ] || { cat "$work/services.txt" >&2; exit 1; }
control() { curl -s -o /dev/null -X POST -H 'Content-Type: application/json' --data "$2" "$base/__control/$1"; }
control faults "[{\"path\":\"/download/slow.exe\",\"method\":\"GET\",\"throttle\":$throttle},
                 {\"path\":\"/download/stall.exe\",\"method\":\"GET\",\"stall_ms\":$((stall_s * 1000))}]"

winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
# Keep one Wine server alive for the whole run, so its start-up is not timed, and count its CPU.
wineserver -p 2>/dev/null || true
"$WINE" cmd /c exit 0 >/dev/null 2>&1 || true
# This prefix's server works in a folder named server-DEV-INODE of the prefix folder (under
# /tmp/.wine-UID, or a folder of its own under /tmp in some builds): the name tells it apart.
server_dir=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
server_pid=
# The server runs as "wineserver" or, where only the 64-bit one is installed, "wineserver64".
for p in $(pgrep -x 'wineserver|wineserver64' || true); do
  [ "$(basename "$(readlink "/proc/$p/cwd" 2>/dev/null)")" = "$server_dir" ] && server_pid=$p
done
[ -n "$server_pid" ] || echo "warning: this prefix's Wine server was not found: its CPU time is not counted" >&2
server_cpu() {  # CPU seconds of the Wine server so far
  if [ -n "$server_pid" ] && [ -r "/proc/$server_pid/stat" ]; then
    awk -v hz="$(getconf CLK_TCK)" '{print ($14 + $15) / hz}' "/proc/$server_pid/stat"
  else echo 0; fi
}

# Runs one tool once: prints "wall cpu".
measure() {
  local tool=$1 file=$2 out="$work/out/$1-$2"
  rm -f "$out" "$out.xml" "$out.db" "$out".aria2
  local before after
  before=$(server_cpu)
  case "$tool" in
    project) /usr/bin/time -f '%e %U %S' -o "$work/time" "$WINE" "$driver" "$base/download/$file" "$(winpath "$out")" 1 1 nomd5 >"$work/driver.txt" 2>/dev/null || true
             grep -q '^result 1 ' "$work/driver.txt" || { echo "project download failed: $(cat "$work/driver.txt")" >&2; exit 1; } ;;
    aria2c)  /usr/bin/time -f '%e %U %S' -o "$work/time" aria2c -q -x "$conns" -s "$conns" -k 1M --file-allocation=none \
               --allow-overwrite=true -d "$work/out" -o "$(basename "$out")" "$base/download/$file" ;;
    curl)    /usr/bin/time -f '%e %U %S' -o "$work/time" curl -s -o "$out" "$base/download/$file" ;;
  esac
  after=$(server_cpu)
  cmp -s "$out" "$work/root/$file" || { echo "$tool: downloaded file differs from the source" >&2; exit 1; }
  # The last line: time writes a note first when the command's exit status is not 0.
  tail -n 1 "$work/time" | awk -v s="$(echo "$after - $before" | bc -l)" '{printf "%.3f %.3f\n", $1, $2 + $3 + s}'
  rm -f "$out"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
median() { sort -n | awk '{a[NR]=$1} END {if (NR % 2) print a[(NR+1)/2]; else printf "%.3f\n", (a[NR/2] + a[NR/2+1]) / 2}'; }

bench_case() {
  local title=$1 file=$2 n=$3; shift 3
  local tools=("$@") t r
  declare -A walls cpus
  for r in $(seq 1 "$n"); do
    for t in "${tools[@]}"; do
      read -r w c < <(measure "$t" "$file")
      walls[$t]+="$w "; cpus[$t]+="$c "
    done
  done
  echo "== $title ($n rounds, $conns connections for project and aria2c)"
  local pw pc mw mc
  pw=$(tr ' ' '\n' <<<"${walls[project]}" | grep . | median)
  pc=$(tr ' ' '\n' <<<"${cpus[project]}" | grep . | median)
  for t in "${tools[@]}"; do
    mw=$(tr ' ' '\n' <<<"${walls[$t]}" | grep . | median)
    mc=$(tr ' ' '\n' <<<"${cpus[$t]}" | grep . | median)
    if [ "$t" = project ]; then
      printf '  %-8s wall %8.3f s   cpu %8.3f s\n' "$t" "$mw" "$mc"
    else
      printf '  %-8s wall %8.3f s   cpu %8.3f s   project/%s: wall %s  cpu %s\n' "$t" "$mw" "$mc" "$t" \
        "$(ratio "$pw" "$mw")" "$(ratio "$pc" "$mc")"
    fi
  done
}

bench_case "loopback, ${size_mib} MiB, unthrottled" bench.exe "$rounds" project aria2c curl
bench_case "loopback, ${throttled_mib} MiB, each connection throttled to $throttle B/s" slow.exe 1 project aria2c curl

# CPU spent while every connection is stalled: an 8 MiB file whose replies send nothing for
# BENCH_STALL_S seconds, then everything.
read -r w c < <(measure project stall.exe)
read -r aw ac < <(measure aria2c stall.exe)
echo "== stalled connections (${stall_s} s before the first byte)"
printf '  project  wall %8.3f s   cpu %8.3f s\n  aria2c   wall %8.3f s   cpu %8.3f s\n' "$w" "$c" "$aw" "$ac"
