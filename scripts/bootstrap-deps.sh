#!/usr/bin/env bash
# Cross-builds the setup's third-party libraries for Windows (i686, or x86_64) into a cache outside the
# checkout: libcurl (Schannel, zlib), jsoncpp, tinyxml2, minizip, GoogleTest, and copies
# easylogging++. The cache is keyed by this script, the toolchain file and the compiler
# version, so a second run with nothing changed returns at once.
# Prints the cache prefix on its last line.
#   bootstrap-deps.sh [i686|x86_64]   i686 (the shipped setup) unless told otherwise; x86_64 is the
#                                     test build for machines that cannot run 32-bit code
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-i686}
case "$arch" in
  i686) toolchain="$here/cmake/toolchain-mingw32.cmake" ;;
  x86_64) toolchain="$here/cmake/toolchain-mingw64.cmake" ;;
  *) echo "bootstrap-deps.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
triple=$arch-w64-mingw32
cache_root=${ORBALA_CACHE:-/var/cache/orbala-setup}
key=$( { cat "$0" "$toolchain"; $triple-g++-posix --version | head -1; } | sha256sum | cut -c1-16)
prefix="$cache_root/deps-$arch-$key"
if [ -f "$prefix/.complete" ]; then echo "$prefix"; exit 0; fi

jobs=$(nproc)
work="$cache_root/work-$key"
rm -rf "$work" "$prefix"; mkdir -p "$work" "$prefix/include" "$prefix/lib"
cd "$work"
log="$work/build.log"
echo "deps: building into $prefix (log: $log)" >&2

# apt-get source of a package, with a fall-back to a named version when the newest 404s.
fetch_source() {
  local pkg=$1 fallback=$2
  apt-get source -qq "$pkg" >>"$log" 2>&1 || apt-get source -qq "$pkg=$fallback" >>"$log" 2>&1
}
cmake_cross() {
  local src=$1 bld=$2; shift 2
  cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >>"$log" 2>&1
  cmake --build "$bld" -j "$jobs" >>"$log" 2>&1
  cmake --install "$bld" >>"$log" 2>&1
}

fetch_source curl 7.88.1-10+deb12u5
fetch_source libjsoncpp 1.9.5-4
fetch_source tinyxml2 9.0.0+dfsg-3.1
fetch_source zlib 1:1.2.13.dfsg-1

echo "deps: libcurl" >&2
cmake_cross "$(ls -d curl-*/ | head -1)" b-curl \
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF \
  -DBUILD_TESTING=OFF -DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF -DCURL_ZLIB=ON \
  -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DCURL_DISABLE_LDAP=ON -DENABLE_MANUAL=OFF

echo "deps: jsoncpp" >&2
cmake_cross "$(ls -d libjsoncpp-*/ | head -1)" b-jsoncpp \
  -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF \
  -DJSONCPP_WITH_CMAKE_PACKAGE=OFF -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF

echo "deps: tinyxml2" >&2
cmake_cross "$(ls -d tinyxml2-*/ | head -1)" b-tinyxml2 -DBUILD_SHARED_LIBS=OFF -Dtinyxml2_BUILD_TESTING=OFF -DBUILD_TESTING=OFF

echo "deps: minizip" >&2
mz="$(ls -d zlib-*/ | head -1)contrib/minizip"
mkdir -p b-minizip "$prefix/include/minizip"
for f in ioapi unzip zip iowin32; do
  $triple-gcc-posix -O2 -c "$mz/$f.c" -o "b-minizip/$f.o" >>"$log" 2>&1
done
$triple-ar rcs "$prefix/lib/libminizip.a" b-minizip/*.o
cp "$mz"/{ioapi,unzip,zip,iowin32,crypt}.h "$prefix/include/minizip/"

echo "deps: googletest" >&2
cmake_cross /usr/src/googletest b-gtest -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=OFF

echo "deps: easylogging++" >&2
mkdir -p "$prefix/easyloggingpp"
cp /usr/include/easylogging++.h "$prefix/easyloggingpp/"
cc=$(dpkg -L libeasyloggingpp-dev | grep -E 'easylogging\+\+\.cc$' | head -1)
cp "$cc" "$prefix/easyloggingpp/"

touch "$prefix/.complete"
rm -rf "$work"
echo "$prefix"
