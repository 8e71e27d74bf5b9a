#!/usr/bin/env bash
# Installs what the 32-bit Windows cross-build and its wine test run need, on Debian 12, as root (or with
# sudo): the i686 MinGW-w64 compilers, zlib for MinGW, wine (32-bit), Xvfb and friends; then cross-builds
# libjpeg-turbo and libdeflate (from Debian's source packages) and GoogleTest into build/cross-deps/prefix.
# Every step is skipped when its result is already there, so running it again is cheap.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
deps=$root/build/cross-deps
prefix=$deps/prefix
toolchain=$root/cmake/toolchain-mingw32.cmake
jobs=${DS_JOBS:-2}
. scripts/apt.sh

step() { echo "== $*"; }

# --- packages -------------------------------------------------------------------------------------------
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  step "adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  need_update=1
fi

src_list=/etc/apt/sources.list.d/desktop-snow-src.sources
if [ ! -f "$src_list" ]; then
  step "enabling source packages for bookworm main"
  $SUDO tee "$src_list" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

pkgs=(gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686 libz-mingw-w64-dev nasm
      cmake ninja-build dpkg-dev wine wine32:i386 libgl1:i386 libgl1-mesa-dri:i386 xvfb xdotool zip
      googletest)
mapfile -t missing < <(apt_missing "${pkgs[@]}")
if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  step "installing: ${missing[*]:-(package lists only)}"
  apt_update
  if [ ${#missing[@]} -gt 0 ]; then
    # dpkg's progress goes to a log; errors still show.
    mkdir -p "$deps"
    apt_install --no-install-recommends "${missing[@]}" >"$deps/apt-install.log"
  fi
fi

mkdir -p "$deps" "$prefix"

# --- libjpeg-turbo, static, SIMD on ---------------------------------------------------------------------
if [ ! -f "$prefix/lib/libjpeg.a" ]; then
  srcdir=$(find "$deps/" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -n1)
  if [ -z "$srcdir" ]; then
    step "fetching the libjpeg-turbo source package"
    (cd "$deps" && apt-get source -qq libjpeg-turbo)
    srcdir=$(find "$deps/" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -n1)
  fi
  step "cross-building libjpeg-turbo from $srcdir"
  cmake -S "$srcdir" -B "$deps/libjpeg-turbo-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=ON -DWITH_TURBOJPEG=OFF -DREQUIRE_SIMD=ON >/dev/null
  cmake --build "$deps/libjpeg-turbo-build" -j "$jobs"
  cmake --install "$deps/libjpeg-turbo-build" >/dev/null
fi

# --- libdeflate, static (its Makefile names the MinGW archive libdeflatestatic.lib) ------------------------
if [ ! -f "$prefix/lib/libdeflate.a" ]; then
  srcdir=$(find "$deps/" -maxdepth 1 -type d -name 'libdeflate-*' | head -n1)
  if [ -z "$srcdir" ]; then
    step "fetching the libdeflate source package"
    (cd "$deps" && apt-get source -qq libdeflate)
    srcdir=$(find "$deps/" -maxdepth 1 -type d -name 'libdeflate-*' | head -n1)
  fi
  step "cross-building libdeflate from $srcdir"
  make -C "$srcdir" -j "$jobs" CC=i686-w64-mingw32-gcc-posix AR=i686-w64-mingw32-ar libdeflatestatic.lib \
    >/dev/null
  install -D -m644 "$srcdir/libdeflate.h" "$prefix/include/libdeflate.h"
  install -D -m644 "$srcdir/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
fi

# --- GoogleTest (gtest, gtest_main, gmock) --------------------------------------------------------------
if [ ! -f "$prefix/lib/libgtest.a" ] || [ ! -f "$prefix/lib/libgmock.a" ]; then
  step "cross-building GoogleTest"
  cmake -S /usr/src/googletest -B "$deps/googletest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_GMOCK=ON -DBUILD_SHARED_LIBS=OFF -Dgtest_force_shared_crt=OFF >/dev/null
  cmake --build "$deps/googletest-build" -j "$jobs"
  cmake --install "$deps/googletest-build" >/dev/null
fi

step "cross dependencies ready in $prefix"
