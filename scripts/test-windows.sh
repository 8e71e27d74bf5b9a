#!/usr/bin/env bash
# Usage: scripts/test-windows.sh [release|debug] [ctest args...]   (DS_SKIP_BUILD=1: test what is built)
# Builds the Windows programs (scripts/build-windows.sh) and runs every test program under wine in a
# 32-bit prefix of its own (build/wineprefix), on a virtual X display when none is given. Fails when any
# test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
config=${1:-release}; shift || true
builddir=build/win32; [ "$config" = debug ] && builddir=build/win32-debug

if [ -z "${DISPLAY:-}" ] && [ -z "${DS_UNDER_XVFB:-}" ]; then
  # Wine's desktop process takes its display when the prefix starts, so the whole run, prefix start-up
  # included, happens inside the one virtual display.
  [ -n "${DS_SKIP_BUILD:-}" ] || bash scripts/build-windows.sh "$config"
  DS_UNDER_XVFB=1 DS_SKIP_BUILD=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$config" "$@"
fi
[ -n "${DS_SKIP_BUILD:-}" ] || bash scripts/build-windows.sh "$config"

export WINEPREFIX=$root/build/wineprefix
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts: wineboot takes seconds
export WINEDEBUG=${WINEDEBUG:--all}

# Wine's background processes (the server, services, the desktop process) outlive the program that
# started them and keep its output open; started from inside ctest they would hold its output pipe and the
# first test would never seem to end. So they start here, with their output in a log of their own.
winelog=$root/build/wineprefix.log
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== creating the wine prefix $WINEPREFIX"
  start=$(date +%s)
  wineboot -i </dev/null >>"$winelog" 2>&1
  wineserver -w
  echo "   prefix ready in $(( $(date +%s) - start )) s"
fi
# One server for the whole run, so that each test program starts in a fraction of a second.
wineserver -p </dev/null >>"$winelog" 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT
wineboot </dev/null >>"$winelog" 2>&1

echo "== test programs under $(wine --version)"
start=$(date +%s)
status=0
ctest --test-dir "$builddir" --output-on-failure -j "${DS_JOBS:-2}" "$@" || status=$?
echo "== wine test run took $(( $(date +%s) - start )) s"
exit $status
