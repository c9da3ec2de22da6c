#!/usr/bin/env bash
# Installs what the builds and tests need, then cross-builds the Windows
# dependencies (qrcodegen, libsodium, GoogleTest) into .cache/win64.
# Idempotent: a second run finds everything in place and returns quickly.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cache="$here/.cache"
prefix="$cache/win64"
src="$cache/src"
stamp="$prefix/.complete-v1"

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libqrcodegencpp-dev libsodium-dev libssl-dev libcurl4-openssl-dev libgtest-dev libarchive-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
  autoconf automake libtool dpkg-dev
  wine64 wine xvfb xdotool xclip tmux imagemagick zbar-tools
  curl wget aria2 zip unzip openssl iproute2 util-linux procps
  python3 man-db bsdextrautils binutils
)

need_install=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need_install+=("$p")
done
if [ ${#need_install[@]} -gt 0 ]; then
  echo "bootstrap: installing ${need_install[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need_install[@]}" >/dev/null
fi

if [ -f "$stamp" ]; then
  echo "bootstrap: Windows dependencies already in $prefix"
  exit 0
fi

# Source packages need a deb-src entry next to the binary one.
srclist=/etc/apt/sources.list.d/vornhale-src.sources
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$srclist"
  else
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > /etc/apt/sources.list.d/vornhale-src.list
  fi
  apt-get update -qq
fi

mkdir -p "$src" "$prefix/include" "$prefix/lib"
cd "$src"

# qrcodegen: the Debian diff tarball is missing, so apt-get source fails after
# it has downloaded the orig tarball, which is all we need.
if ! ls qr-code-generator_*.orig.tar.gz >/dev/null 2>&1; then
  apt-get source --download-only qr-code-generator >/dev/null 2>&1 || true
fi
qrtar=$(ls qr-code-generator_*.orig.tar.gz | head -1)
rm -rf qrcodegen-src && mkdir qrcodegen-src && tar -xzf "$qrtar" -C qrcodegen-src --strip-components=1
x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -c qrcodegen-src/cpp/qrcodegen.cpp -o qrcodegen.o
x86_64-w64-mingw32-ar rcs "$prefix/lib/libqrcodegencpp.a" qrcodegen.o
mkdir -p "$prefix/include/qrcodegen"
cp qrcodegen-src/cpp/qrcodegen.hpp "$prefix/include/qrcodegen/"
# Keep the licence text for the release notices.
mkdir -p "$prefix/share/licenses/qrcodegen"
cp qrcodegen-src/Readme.markdown "$prefix/share/licenses/qrcodegen/" 2>/dev/null || true

# libsodium
if ! ls libsodium_*.orig.tar.gz >/dev/null 2>&1; then
  apt-get source --download-only libsodium >/dev/null
fi
sotar=$(ls libsodium_*.orig.tar.gz | head -1)
rm -rf libsodium-src && mkdir libsodium-src && tar -xzf "$sotar" -C libsodium-src --strip-components=1
(
  cd libsodium-src
  [ -x configure ] || ./autogen.sh -s >/dev/null 2>&1
  ./configure --host=x86_64-w64-mingw32 --prefix="$prefix" --disable-shared --enable-static \
    CC=x86_64-w64-mingw32-gcc-posix CFLAGS="-O2" >/dev/null
  make -j"$(nproc)" >/dev/null 2>&1
  make install >/dev/null
)
mkdir -p "$prefix/share/licenses/libsodium"
cp libsodium-src/LICENSE "$prefix/share/licenses/libsodium/" 2>/dev/null || true

# GoogleTest from the copy that libgtest-dev ships.
rm -rf gtest-build
cmake -S /usr/src/googletest -B gtest-build -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -Dgtest_disable_pthreads=OFF -DBUILD_GMOCK=OFF >/dev/null
cmake --build gtest-build >/dev/null
cmake --install gtest-build >/dev/null

touch "$stamp"
echo "bootstrap: Windows dependencies built into $prefix"
