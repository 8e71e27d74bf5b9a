#!/usr/bin/env bash
# Installs the dependencies, builds the program and runs it. Without a desktop backend the run is headless:
# a few seconds of snow over the bundled wallpaper, saved as a snapshot.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh release --target desktop-snow
if [ $# -eq 0 ]; then
  set -- --headless --frames 300 --snapshot build/snapshot.png
fi
./build/release/desktop-snow "$@"
