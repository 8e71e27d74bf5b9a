#!/usr/bin/env bash
# Usage: scripts/build-windows.sh [release|debug] [extra cmake args...]
# Cross-builds the 32-bit Windows program desktop-snow.exe and every test program into build/win32
# (release) or build/win32-debug (debug, so switching does not rebuild the other), linked statically (the exe needs no DLL beyond the system's). Installs the cross tools first if needed.
set -euo pipefail
cd "$(dirname "$0")/.."
config=${1:-release}; shift || true
case "$config" in
  release) type=Release; dir=build/win32 ;;
  debug)   type=Debug; dir=build/win32-debug ;;
  *) echo "unknown configuration: $config (release or debug)" >&2; exit 2 ;;
esac
bash scripts/install-cross.sh
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" \
  -DCMAKE_TOOLCHAIN_FILE="$(pwd)/cmake/toolchain-mingw32.cmake" \
  -DDS_CROSS_PREFIX="$(pwd)/build/cross-deps/prefix" "$@" >/dev/null
cmake --build "$dir" -j "${DS_JOBS:-2}"

# The exe must run on a bare Windows: any runtime DLL of the toolchain or of a library means a static link
# fell back to an import library.
imports=$(i686-w64-mingw32-objdump -p "$dir/desktop-snow.exe" | sed -n 's/^\s*DLL Name: //p')
if echo "$imports" | grep -Eiq '^(lib.*|zlib.*|.*jpeg.*)\.dll$'; then
  echo "desktop-snow.exe needs non-system DLLs:" $imports >&2
  exit 1
fi
