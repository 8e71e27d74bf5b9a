#!/usr/bin/env bash
# Installs the dependencies, builds the debug and the sanitizer configurations, runs every test in both, gives
# each fuzz target a short run over its committed corpus, then cross-builds the Windows programs, runs the
# whole suite under wine (scripts/install-cross.sh installs what that needs) and checks the real program end
# to end (scripts/e2e-windows.sh), then checks the Linux program end to end on an X desktop
# (scripts/e2e-linux.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Xvfb is installed now: the X11 cases of the window-system contract suite must run, not skip.
export DS_REQUIRE_BACKEND=x11
for config in debug asan; do
  echo "== $config build"
  bash scripts/build.sh "$config"
  echo "== $config tests"
  (cd "build/$config" && ctest --output-on-failure -j "$(nproc)")
done
echo "== fuzz smoke run"
bash scripts/fuzz.sh smoke
echo "== Windows build and tests under wine"
bash scripts/test-windows.sh debug
echo "== Windows program end to end under wine"
bash scripts/e2e-windows.sh debug
echo "== Linux program end to end on an X desktop"
bash scripts/e2e-linux.sh debug
