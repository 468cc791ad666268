#!/usr/bin/env bash
# Verification benchmark: what the install worker spends between the end of the download and
# the installer's start (package lock, MD5 digest with its stamp, Authenticode signature with
# the publisher check; bench/verify_driver.exe under Wine) against the two native tools doing
# the same work, md5sum and osslsigncode verify, on the same signed package. Runs alternate and
# repeat; prints the medians and the ratio project/peers.
#   bench/verify.sh BUILD_DIR   (bench/run.sh runs it with the others)
# Environment: BENCH_VERIFY_MIB (200), BENCH_ROUNDS (3)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: bench/verify.sh BUILD_DIR}
. "$top/scripts/wine-env.sh"
driver="$build/bench/verify_driver.exe"
packages="$build/tests/fixtures/packages"
[ -f "$driver" ] || { echo "not built: $driver (./run build)" >&2; exit 2; }
[ -f "$packages/ca/ca.pem" ] || { echo "not built: $packages (./run build)" >&2; exit 2; }

size_mib=${BENCH_VERIFY_MIB:-200}
rounds=${BENCH_ROUNDS:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/orbala-verify.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A package of the wanted size: the unsigned test installer with the rest as trailing data
# (which Authenticode hashes as well), signed by the test publisher.
base=OrbalaLumeno_Setup  # the skin's download name, which the test packages carry
[ -f "$packages/${base}_unsigned.exe" ] || { echo "not built: $packages/${base}_unsigned.exe (./run build)" >&2; exit 2; }
cp "$packages/${base}_unsigned.exe" "$work/big.exe"
have=$(stat -c %s "$work/big.exe")
head -c $((size_mib * 1048576 - have)) /dev/urandom >> "$work/big.exe"
osslsigncode sign -certs "$packages/ca/publisher-chain.pem" -key "$packages/ca/publisher.key" -n "$base" -h sha256 \
  -in "$work/big.exe" -out "$work/package.exe" >/dev/null
rm -f "$work/big.exe"
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }

wineserver -p 2>/dev/null || true
"$WINE" cmd /c exit 0 >/dev/null 2>&1 || true

median() { sort -n | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
: > "$work/project"; : > "$work/project_wall"; : > "$work/peer"
expected=$(md5sum "$work/package.exe" | cut -d' ' -f1)
for round in $(seq 1 "$rounds"); do
  # Project: the driver's own measurement (without Wine's start-up) and the whole run's wall time.
  start=$(date +%s.%N)
  out=$("$WINE" "$driver" "$(winpath "$work/package.exe")" "$(winpath "$packages/ca/ca.der")" 2>/dev/null | tr -d '\r' | grep '^verify ' || true)
  end=$(date +%s.%N)
  set -- $out
  [ "${1:-}" = verify ] && [ "$4" = "$expected" ] && [ "$6" = 1 ] || { echo "project check failed: $out" >&2; exit 1; }
  echo "$2" >> "$work/project"
  echo "($end - $start) * 1000" | bc -l >> "$work/project_wall"
  # Peers: md5sum, then osslsigncode verify against the same authority.
  start=$(date +%s.%N)
  md5sum "$work/package.exe" >/dev/null
  osslsigncode verify -CAfile "$packages/ca/ca.pem" -in "$work/package.exe" >/dev/null 2>&1 || { echo "osslsigncode verify failed" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "($end - $start) * 1000" | bc -l >> "$work/peer"
done
p=$(median < "$work/project"); pw=$(median < "$work/project_wall"); q=$(median < "$work/peer")
printf 'verification of a %d MiB signed package, median of %d rounds\n' "$size_mib" "$rounds"
printf '  project (digest + signature, in process)  %8.1f ms\n' "$p"
printf '  project (whole driver run under Wine)     %8.1f ms\n' "$pw"
printf '  md5sum + osslsigncode verify (native)     %8.1f ms\n' "$q"
printf '  ratio project/peers                       %8.2f\n' "$(echo "$p / $q" | bc -l)"
