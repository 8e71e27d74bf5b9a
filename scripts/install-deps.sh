#!/usr/bin/env bash
# Installs everything the build, the tests, the fuzzers and the benchmarks need (Debian, as root or with sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/apt.sh
pkgs=(build-essential cmake ninja-build pkg-config ccache zlib1g-dev libjpeg62-turbo-dev libgtest-dev
      libgmock-dev libbenchmark-dev libpixman-1-dev libpng-dev libdeflate-dev clang lld libclang-rt-dev
      clang-format python3 procps)
mapfile -t missing < <(apt_missing "${pkgs[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt_update
  apt_install "${missing[@]}"
fi
