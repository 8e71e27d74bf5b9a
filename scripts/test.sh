#!/usr/bin/env bash
# Installs the dependencies, builds the debug and the sanitizer configurations, runs every test in both, then
# gives each fuzz target a short run over its committed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for config in debug asan; do
  echo "== $config build"
  bash scripts/build.sh "$config"
  echo "== $config tests"
  (cd "build/$config" && ctest --output-on-failure -j "$(nproc)")
done
echo "== fuzz smoke run"
bash scripts/fuzz.sh smoke
