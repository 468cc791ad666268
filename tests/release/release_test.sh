#!/usr/bin/env bash
# The release command (native, run by ctest as release_test): builds the shipped 32-bit setup.exe
# for the production deployment, signs it with a throwaway code-signing certificate and checks
# what it made; then each refusal, each with a deliberately wrong input.
#   release_test.sh SOURCE_DIR SHIPPED_TREE TEST_TREE WORK_DIR
# SHIPPED_TREE: the configured 32-bit tree (its toolchain and libraries are reused);
# TEST_TREE: the tree of the tests, a test deployment (its test authority must not be in a release).
set -uo pipefail
src=$1 shipped=$2 test_tree=$3 work=$4
rm -rf "$work"; mkdir -p "$work"
release_tree="$work/../release-test-production"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$2/CMakeCache.txt"; }

toolchain=$(cache_value CMAKE_TOOLCHAIN_FILE "$shipped")
deps=$(cache_value ORBALA_DEPS "$shipped")
[ -n "$toolchain" ] && [ -n "$deps" ] || { echo "FAIL: $shipped is no configured tree"; exit 1; }

# A throwaway authority and a code-signing certificate it issued; a second authority that
# issued nothing of ours; a key of no certificate.
cd "$work"
quiet() { "$@" >/dev/null 2>&1 || { echo "setup step failed: $*"; exit 1; }; }
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout ca-key.pem -out ca.pem -days 2 -subj "/CN=Throwaway Release Authority"
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout other-ca-key.pem -out other-ca.pem -days 2 -subj "/CN=Another Authority"
quiet openssl req -newkey rsa:2048 -nodes -keyout signer-key.pem -out signer.csr -subj "/CN=Orbala Release Signer/O=Orbala"
printf 'extendedKeyUsage=codeSigning\nkeyUsage=digitalSignature\n' >signer.ext
quiet openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial -days 2 -extfile signer.ext -out signer.pem
cat signer.pem ca.pem >signer-chain.pem
quiet openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out stray-key.pem
quiet openssl pkcs12 -export -in signer-chain.pem -inkey signer-key.pem -passout pass:s3cret -out signer.pfx

# release ARGS...: the release command as ./run release calls it; output in $work/out.log.
release() {
  "$src/scripts/release.sh" --source "$src" --build-dir "$release_tree" --toolchain "$toolchain" --deps "$deps" \
    --test-authority "$test_tree/../test-authority/ca.pem" "$@" >"$work/out.log" 2>&1
}
expect_status() {  # name expected_status
  local status=$?
  [ "$status" = "$2" ] || { fail "$1: status $status, expected $2"; sed 's/^/    /' "$work/out.log"; }
}
expect_output() {  # name text
  grep -qF -- "$2" "$work/out.log" || { fail "$1: the output does not say \"$2\""; sed 's/^/    /' "$work/out.log"; }
}

# 1. A release, signed with the PEM pair: built, checked, signed, verified, described.
out="$work/made"
release --version 3.1.4.15 --cert signer-chain.pem --key signer-key.pem --ca ca.pem --out "$out"
expect_status "signed release" 0
made="$out/setup.exe"
if [ -f "$made" ]; then
  expect_output "summary path" "release: made $made"
  expect_output "summary size" "size        $(stat -c %s "$made") bytes"
  expect_output "summary SHA-256" "SHA-256     $(sha256sum "$made" | cut -d' ' -f1)"
  expect_output "summary deployment" "deployment  production"
  expect_output "summary version" "version     3.1.4.15"
  expect_output "summary signer" "signer      O=Orbala,CN=Orbala Release Signer"
  osslsigncode verify -in "$made" -CAfile ca.pem >verify.log 2>&1 || fail "the made setup.exe does not verify: $(cat verify.log)"
  osslsigncode verify -in "$made" -CAfile other-ca.pem >/dev/null 2>&1 && fail "the made setup.exe verifies against an authority that never signed it"
  # The 32-bit program, with its version information in the fixed part and in the texts.
  [ "$(od -An -tx2 -j $(( $(od -An -tu4 -j 60 -N 4 "$made") + 4 )) -N 2 "$made" | tr -d ' ')" = 014c ] || fail "the made setup.exe is not a 32-bit x86 program"
  for text in "3.1.4.15" "Orbala Lumeno" "Orbala Lumeno Setup" "Orbala"; do
    wide=$(printf '%s' "$text" | iconv -t UTF-16LE | od -An -tx1 | tr -d ' \n')
    od -An -tx1 -v "$made" | tr -d ' \n' | grep -q "$wide" || fail "the version information lacks \"$text\""
  done
else
  fail "signed release: no $made"
  sed 's/^/    /' "$work/out.log"
fi
unsigned="$release_tree/setup.exe"

# 2. The same program signed from a PFX whose password comes from the environment.
ORBALA_SIGN_PASSWORD=s3cret release --pfx signer.pfx --ca ca.pem --out "$work/pfx"
expect_status "PFX" 0
expect_output "PFX signer" "signer      O=Orbala,CN=Orbala Release Signer"

# 3. Programs that are not releases: nothing is signed, nothing is left in --out. Each is the
#    good program with one fault put in (same length, so the rest of the file stays valid).
patch() {  # in out old new: every occurrence of the bytes of old replaced by new
  python3 - "$@" <<'EOF'
import sys
data = open(sys.argv[1], 'rb').read()
old, new = sys.argv[3].encode('latin-1').decode('unicode_escape').encode('latin-1'), sys.argv[4].encode('latin-1').decode('unicode_escape').encode('latin-1')
assert len(old) == len(new) and old in data, (sys.argv[3], old in data)
open(sys.argv[2], 'wb').write(data.replace(old, new))
EOF
}
wide() { printf '%s' "$1" | iconv -t UTF-16LE | od -An -tx1 -v | tr -d '\n' | sed 's/ /\\x/g'; }
patch "$unsigned" loopback.exe "$(wide ProductName)" "$(wide 'localhost:1')"
patch "$unsigned" imports.exe "USER32.dll" "USERXX.dll"
patch "$unsigned" nomanifest.exe "requireAdministrator" "requireAdministratoX"
# name | program | what the refusal names
while IFS='|' read -r name program reason; do
  rm -rf "$work/refused"
  release --program "$program" --cert signer-chain.pem --key signer-key.pem --ca ca.pem --out "$work/refused"
  expect_status "$name" 1
  expect_output "$name" "$reason"
  [ -e "$work/refused/setup.exe" ] && fail "$name: a program was left in --out"
done <<EOF
test deployment|$shipped/setup.exe|it is a test build
test authority|$shipped/setup.exe|it holds the build's test certificate authority
test-only seam|$shipped/setup.exe|a test-only seam is compiled in
loopback text|$work/loopback.exe|it names a loopback address
direct import|$work/imports.exe|USERXX.dll directly
no manifest|$work/nomanifest.exe|no application manifest asking for elevation
EOF
# On a machine that runs 64-bit code only, the tests' own tree builds an x86_64 setup.exe: not
# what ships.
if [ "$(realpath "$test_tree")" != "$(realpath "$shipped")" ]; then
  release --program "$test_tree/setup.exe" --out "$work/refused"
  expect_status "64-bit program" 1
  expect_output "64-bit program" "it is not a 32-bit x86 Windows program (machine 0x8664)"
fi

# 4. Wrong signing inputs: refused, nothing left in --out.
while IFS='|' read -r name status reason args; do
  rm -rf "$work/refused"
  # shellcheck disable=SC2086
  release --program "$unsigned" --out "$work/refused" $args
  expect_status "$name" "$status"
  expect_output "$name" "$reason"
  [ -e "$work/refused/setup.exe" ] && fail "$name: a program was left in --out"
done <<EOF
key of another certificate|1|does not belong to the certificate|--cert signer-chain.pem --key stray-key.pem --ca ca.pem
wrong PFX password|1|cannot open signer.pfx|--pfx signer.pfx --ca ca.pem
signer the authority never issued|1|does not verify against other-ca.pem|--cert signer-chain.pem --key signer-key.pem --ca other-ca.pem
version of three numbers|2|is not four numbers|--version 1.2.3
version number too large|2|at most 65535|--version 1.2.3.70000
unknown deployment|2|no deployment 'nowhere'|--deployment nowhere
deployment outside the folder|2|is not the name of a folder|--deployment ../deployment/local
key without certificate|2|--cert and --key go together|--key signer-key.pem
EOF

[ "$failures" = 0 ] && echo "release_test: every case passed"
exit $((failures > 0))
