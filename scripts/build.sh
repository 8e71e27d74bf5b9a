#!/usr/bin/env bash
# Usage: scripts/build.sh [debug|release|asan|fuzz] [-DNAME=VALUE...] [--target NAME...]
# Builds into build/<config>: every target, or only the ones named with --target. -D arguments go to CMake.
# ccache, when installed, keeps compiled objects across configurations and checkouts.
set -euo pipefail
cd "$(dirname "$0")/.."
config=${1:-debug}; shift || true
case "$config" in
  debug)   args=(-DCMAKE_BUILD_TYPE=Debug) ;;
  release) args=(-DCMAKE_BUILD_TYPE=Release -DDS_BENCH=ON) ;;
  asan)    args=(-DCMAKE_BUILD_TYPE=Debug -DDS_SANITIZE=ON) ;;
  fuzz)    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DDS_FUZZ=ON -DDS_TESTS=OFF -DDS_SANITIZE=ON
                 -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "unknown configuration: $config" >&2; exit 2 ;;
esac
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --target) targets+=(--target "$2"); shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
if command -v ccache >/dev/null 2>&1; then
  args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # Paths below the checkout are hashed relative to it, so other checkouts share the cache.
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(pwd)}
fi
cmake -S . -B "build/$config" -G Ninja "${args[@]}" >/dev/null
cmake --build "build/$config" -j "$(nproc)" "${targets[@]}"
