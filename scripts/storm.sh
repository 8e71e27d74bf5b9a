#!/usr/bin/env bash
# Usage: scripts/storm.sh [FRAMES] [SEED]
# The long lost-surface storm: the whole program on the soft platform, in the sanitizer build, through
# FRAMES frames (default 10000) of surfaces lost now and then, restores failing at times and draws failing
# at random (the storm's random choices come from SEED, default 2026). It then runs a few calm frames and
# checks that the program still draws, showed no error, holds exactly the objects a calm run of the same
# length holds, and shows that run's last frame; the sanitizers report any leak at exit. The storm's counts
# are printed. DS_STORM_SCREEN=WxH sets the screen (default 320x200, as in the suite). The test suite runs
# a short storm.
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-10000}
seed=${2:-2026}
nice -n 15 bash scripts/build.sh asan --target test_app_lost_surface_storm_test
start=$(date +%s)
DS_STORM_FRAMES=$frames DS_STORM_SEED=$seed DS_STORM_SCREEN=${DS_STORM_SCREEN:-320x200} \
  nice -n 15 build/asan/test_app_lost_surface_storm_test --gtest_brief=0
echo "storm of $frames frames (seed $seed) passed in $(($(date +%s) - start)) s, sanitizers silent"
