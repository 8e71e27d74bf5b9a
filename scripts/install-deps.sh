#!/usr/bin/env bash
# Installs everything the build, the tests, the fuzzers and the benchmarks need (Debian, as root or with sudo).
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config zlib1g-dev libjpeg62-turbo-dev libgtest-dev libgmock-dev
      libbenchmark-dev libpixman-1-dev libpng-dev clang lld libclang-rt-dev clang-format python3)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO="sudo"
  echo "installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
