#!/usr/bin/env bash
# Runs one command with the local services started for it alone, then stops them.
#   scripts/with-local-services.sh PATH/TO/local-services COMMAND [ARGS...]
# ctest uses it as the launcher of every test that talks to the services, so tests that run at
# the same time never share ports, fault rules or request records.
#
# The services listen on free loopback ports and serve /download/ from a fresh, empty folder.
# The command gets (environment variables pass through wine):
#   ORBALA_SERVICES_HTTP        base URL of the plain HTTP listener, e.g. http://127.0.0.1:40123
#   ORBALA_SERVICES_HTTPS       base URL of the HTTPS listener, whose certificate the build's test
#                               authority signed (build/test-authority, beside the services' build;
#                               ORBALA_TEST_AUTHORITY names another folder): test builds trust it
#   ORBALA_SERVICES_HTTPS_SELF_SIGNED   base URL of an HTTPS listener with a self-signed
#                               certificate, which every build of the setup must refuse
#   ORBALA_SERVICES_ROOT        the served folder, as a Wine path (Z:\...), for files a test serves
#   ORBALA_SERVICES_RECORD      the request record (JSON lines), as a Wine path
#   ORBALA_SERVICES_ROOT_UNIX, ORBALA_SERVICES_RECORD_UNIX   the same two as Linux paths
# The exit status is the command's; the services end with this script (and by themselves,
# should it be killed: they watch their parent).
set -u
bin=${1:?usage: with-local-services.sh LOCAL_SERVICES COMMAND...}
shift
[ $# -gt 0 ] || { echo "with-local-services.sh: no command" >&2; exit 2; }
[ -x "$bin" ] || { echo "with-local-services.sh: local services not built: $bin (./run build)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/orbala-services.XXXXXX")
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

mkdir -p "$work/root"
# The certificate signed by the build's test authority; without one (no test build configured
# yet), a self-signed one made once per machine and shared (the services lock its folder).
authority=${ORBALA_TEST_AUTHORITY:-$(cd "$(dirname "$bin")/.." && pwd)/test-authority}
cert_dir="${TMPDIR:-/tmp}/orbala-services-cert"
[ -s "$authority/cert.pem" ] && [ -s "$authority/key.pem" ] && cert_dir=$authority
# ORBALA_SERVICES_HTTP_PORT / ORBALA_SERVICES_HTTPS_PORT: fixed ports instead of free ones, for
# tests of the setup as built for the local deployment, whose hosts name the default ports.
"$bin" --http-port "${ORBALA_SERVICES_HTTP_PORT:-0}" --https-port "${ORBALA_SERVICES_HTTPS_PORT:-0}" --root "$work/root" --record "$work/record.jsonl" \
  --parent-pid $$ --cert-dir "$cert_dir" --self-signed-https-port 0 \
  --self-signed-cert-dir "${TMPDIR:-/tmp}/orbala-services-self-signed" >"$work/out.txt" 2>&1 &
pid=$!
for _ in $(seq 1 200); do
  grep -q '^https-self-signed ' "$work/out.txt" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
http=$(awk '$1 == "http" {print $2}' "$work/out.txt")
https=$(awk '$1 == "https" {print $2}' "$work/out.txt")
self_signed=$(awk '$1 == "https-self-signed" {print $2}' "$work/out.txt")
if [ -z "$http" ] || [ -z "$https" ]; then
  echo "with-local-services.sh: the local services did not start:" >&2
  cat "$work/out.txt" >&2
  exit 1
fi

winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
export ORBALA_SERVICES_HTTP=$http ORBALA_SERVICES_HTTPS=$https ORBALA_SERVICES_HTTPS_SELF_SIGNED=$self_signed
export ORBALA_SERVICES_ROOT_UNIX=$work/root ORBALA_SERVICES_RECORD_UNIX=$work/record.jsonl
ORBALA_SERVICES_ROOT=$(winpath "$work/root")
ORBALA_SERVICES_RECORD=$(winpath "$work/record.jsonl")
export ORBALA_SERVICES_ROOT ORBALA_SERVICES_RECORD

"$@"
