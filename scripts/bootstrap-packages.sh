#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the demo need.
# Idempotent: when every package is already present it only checks and returns.
set -euo pipefail

PACKAGES=(
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  libz-mingw-w64-dev
  cmake ninja-build make dpkg-dev ccache
  wine wine32 wine64 xvfb xauth imagemagick x11-utils
  fonts-noto-core fonts-noto-cjk
  osslsigncode openssl
  libeasyloggingpp-dev googletest
  libcpp-httplib-dev libssl-dev g++ pkg-config
  aria2 curl
  tinyproxy
  locales
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p:i386" 2>/dev/null | grep -q "ok installed" && continue
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done

need_src=0
grep -rqs 'deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null || need_src=1
need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

if [ ${#missing[@]} -eq 0 ] && [ $need_src -eq 0 ] && [ $need_i386 -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]:-(apt sources only)}" >&2
if [ $need_i386 -eq 1 ]; then dpkg --add-architecture i386; fi
if [ $need_src -eq 1 ]; then
  # Source packages come from the same entries as the binaries: add deb-src to their Types line.
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed -i -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb deb-src/' "$f"
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n -E 's/^deb[[:space:]]+(http[^ ]+[[:space:]].*)$/deb-src \1/p' /etc/apt/sources.list > /tmp/.debsrc.$$ || true
    if [ -s /tmp/.debsrc.$$ ]; then cat /tmp/.debsrc.$$ >> /etc/apt/sources.list; fi
    rm -f /tmp/.debsrc.$$
  fi
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q || true
apt-get install -y -q --no-install-recommends "${missing[@]}"
