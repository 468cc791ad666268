#!/usr/bin/env bash
# Makes the setup.exe a maker ships: builds it for a release deployment, checks that it is a
# release, signs it with Authenticode when given a certificate, verifies the signature and says
# what it made. ./run release passes the tree settings (the first four options); the rest are the
# maker's:
#
#   release.sh --source DIR --build-dir DIR --toolchain FILE --deps DIR
#              [--deployment NAME]        deployment/NAME, "production" when not given
#              [--version A.B.C.D]        file and product version (default: the source's)
#              [--pfx FILE]               code-signing certificate and key as PKCS#12 ...
#              [--cert FILE --key FILE]   ... or as a PEM pair (the certificate file may hold the chain)
#              [--timestamp URL]          RFC 3161 time-stamp server
#              [--ca FILE]                authorities to verify the signature with (default: the
#                                         system's bundle)
#              [--out DIR]                where setup.exe goes (default: build/release)
#              [--program EXE]            check (and sign) this program instead of building one
#              [--test-authority PEM]     the build's test authority, refused inside the program
#
# The password of the key or the PFX is read from the environment (ORBALA_SIGN_PASSWORD), never
# from the command line, where other users of the machine could read it.
#
# Exit status: 0 made; 1 refused (not a release, or signing/verification failed); 2 bad usage.
set -euo pipefail

die_usage() { echo "release: $*" >&2; exit 2; }
refuse() { echo "release: refused: $*" >&2; exit 1; }

source_dir="" build_dir="" toolchain="" deps="" deployment=production version="" pfx="" cert="" key=""
timestamp="" ca="" out="" program="" test_authority=""
while [ $# -gt 0 ]; do
  case "$1" in
    --source|--build-dir|--toolchain|--deps|--deployment|--version|--pfx|--cert|--key|--timestamp|--ca|--out|--program|--test-authority)
      [ $# -ge 2 ] || die_usage "$1 needs a value"
      case "$1" in
        --source) source_dir=$2 ;; --build-dir) build_dir=$2 ;; --toolchain) toolchain=$2 ;;
        --deps) deps=$2 ;; --deployment) deployment=$2 ;; --version) version=$2 ;; --pfx) pfx=$2 ;;
        --cert) cert=$2 ;; --key) key=$2 ;; --timestamp) timestamp=$2 ;; --ca) ca=$2 ;;
        --out) out=$2 ;; --program) program=$2 ;; --test-authority) test_authority=$2 ;;
      esac
      shift 2 ;;
    *) die_usage "unknown option $1" ;;
  esac
done
[ -n "$source_dir" ] && [ -n "$build_dir" ] || die_usage "--source and --build-dir are needed"
[ -n "$out" ] || out="$source_dir/build/release"

# The maker's inputs, checked before anything is built.
case "$deployment" in
  ""|*/*|.*) die_usage "--deployment '$deployment' is not the name of a folder under deployment/" ;;
esac
[ -f "$source_dir/deployment/$deployment/values.txt" ] || die_usage "no deployment '$deployment' (deployment/$deployment/values.txt)"
if [ -n "$version" ]; then
  [[ "$version" =~ ^([0-9]{1,5})\.([0-9]{1,5})\.([0-9]{1,5})\.([0-9]{1,5})$ ]] ||
    die_usage "--version '$version' is not four numbers like 1.2.3.4"
  for part in "${BASH_REMATCH[@]:1}"; do
    [ "$((10#$part))" -le 65535 ] || die_usage "--version '$version': each number must be at most 65535"
  done
fi
if [ -n "$pfx" ] && { [ -n "$cert" ] || [ -n "$key" ]; }; then die_usage "give --pfx or --cert/--key, not both"; fi
if { [ -n "$cert" ] && [ -z "$key" ]; } || { [ -z "$cert" ] && [ -n "$key" ]; }; then
  die_usage "--cert and --key go together"
fi
for f in "$pfx" "$cert" "$key" "$ca" "$program"; do
  [ -z "$f" ] || [ -r "$f" ] || die_usage "cannot read $f"
done
[ -n "$timestamp" ] && [ -z "$pfx$cert" ] && die_usage "--timestamp needs a certificate to sign with"

# The build: setup.exe alone, in a tree of its own for the deployment.
tree="$build_dir"
if [ -z "$program" ]; then
  [ -n "$toolchain" ] && [ -n "$deps" ] || die_usage "--toolchain and --deps are needed to build"
  settings=(-DORBALA_DEPLOYMENT="$deployment")
  [ -n "$version" ] && settings+=(-DORBALA_SETUP_VERSION="$version")
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  if [ ! -f "$tree/build.ninja" ]; then
    cmake -S "$source_dir" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DORBALA_DEPS="$deps" "${launcher[@]}" "${settings[@]}" >/dev/null
  else
    cmake "$tree" -DORBALA_DEPS="$deps" "${settings[@]}" >/dev/null
  fi
  cmake --build "$tree" --target setup >/dev/null || refuse "the build failed (run cmake --build $tree --target setup to see why)"
  program="$tree/setup.exe"
fi
[ -f "$tree/release-check-settings.cmake" ] || die_usage "$tree is no build tree (no release-check-settings.cmake)"

# Not a release: nothing is signed and nothing is put in --out.
check=(-DEXE="$program" -DSETTINGS="$tree/release-check-settings.cmake")
[ -n "$test_authority" ] && check+=(-DTEST_AUTHORITY_PEM="$test_authority")
if ! report=$(cmake "${check[@]}" -P "$source_dir/cmake/CheckReleaseProgram.cmake" 2>&1); then
  # The check's reasons, without cmake's decoration around them.
  echo "$report" | sed -n '/refused: /,$p' | sed -e 's/^ *refused: /release: refused: /' -e 's/^    /  /' -e '/^ *$/d' >&2
  exit 1
fi

mkdir -p "$out"
target="$out/setup.exe"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -f "$target"

signer="not signed"
# Passed to openssl by name, so that the password never shows in a command line.
passin=(-passin pass:)
[ -n "${ORBALA_SIGN_PASSWORD:-}" ] && passin=(-passin env:ORBALA_SIGN_PASSWORD)
if [ -n "$pfx$cert" ]; then
  sign=(osslsigncode sign -h sha256 -n "Orbala Lumeno Setup" -in "$program" -out "$work/signed.exe")
  if [ -n "$pfx" ]; then
    sign+=(-pkcs12 "$pfx")
    # The signer's certificate, for the summary and the verification.
    openssl pkcs12 -in "$pfx" -nokeys -clcerts "${passin[@]}" -out "$work/signer.pem" 2>/dev/null ||
      openssl pkcs12 -legacy -in "$pfx" -nokeys -clcerts "${passin[@]}" -out "$work/signer.pem" 2>/dev/null ||
      refuse "cannot open $pfx (wrong password in ORBALA_SIGN_PASSWORD?)"
  else
    sign+=(-certs "$cert" -key "$key")
    openssl x509 -in "$cert" -out "$work/signer.pem" 2>/dev/null || refuse "$cert holds no PEM certificate"
    # The key must be the certificate's: a mismatch would sign with a key nobody can verify.
    cert_pub=$(openssl x509 -in "$cert" -noout -pubkey 2>/dev/null)
    key_pub=$(openssl pkey -in "$key" -pubout "${passin[@]}" 2>/dev/null) ||
      refuse "cannot read the key $key (wrong password in ORBALA_SIGN_PASSWORD?)"
    [ "$cert_pub" = "$key_pub" ] || refuse "the key $key does not belong to the certificate $cert"
  fi
  [ -n "${ORBALA_SIGN_PASSWORD:-}" ] && { printf '%s' "$ORBALA_SIGN_PASSWORD" >"$work/pass"; sign+=(-readpass "$work/pass"); }
  [ -n "$timestamp" ] && sign+=(-ts "$timestamp")
  "${sign[@]}" >"$work/sign.log" 2>&1 || { sed 's/^/  /' "$work/sign.log" >&2; refuse "signing failed"; }

  # The signature is verified as Windows would: the chain up to an authority the maker trusts.
  [ -n "$ca" ] || ca=/etc/ssl/certs/ca-certificates.crt
  if ! osslsigncode verify -in "$work/signed.exe" -CAfile "$ca" >"$work/verify.log" 2>&1; then
    sed 's/^/  /' "$work/verify.log" >&2
    refuse "the signature does not verify against $ca"
  fi
  signer=$(openssl x509 -in "$work/signer.pem" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
  cp "$work/signed.exe" "$target.part"
else
  cp "$program" "$target.part"
fi
mv "$target.part" "$target"

# What was made.
file_version=$(cmake -DEXE="$target" -P "$source_dir/cmake/ProgramVersion.cmake" 2>&1 | sed -n 's/^-- //p')
printf 'release: made %s\n' "$target"
printf '  size        %s bytes\n' "$(stat -c %s "$target")"
printf '  SHA-256     %s\n' "$(sha256sum "$target" | cut -d' ' -f1)"
printf '  deployment  %s\n' "$(sed -n 's/^set(DEPLOYMENT "\(.*\)")$/\1/p' "$tree/release-check-settings.cmake")"
printf '  version     %s\n' "${file_version:-unknown}"
printf '  signer      %s\n' "$signer"
