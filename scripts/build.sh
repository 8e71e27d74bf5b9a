#!/usr/bin/env bash
# Usage: scripts/build.sh [debug|release|asan|fuzz] [extra cmake args...]
# Builds into build/<config>.
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
cmake -S . -B "build/$config" -G Ninja "${args[@]}" "$@" >/dev/null
cmake --build "build/$config" -j "$(nproc)"
