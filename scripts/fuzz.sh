#!/usr/bin/env bash
# Usage: scripts/fuzz.sh smoke       — every target replays its corpus and fuzzes for a few seconds
#        scripts/fuzz.sh NAME [secs] — fuzz one target (e.g. png_fuzz) for longer
# Findings land in fuzz/findings/; copy a crash into fuzz/corpus/NAME/ once it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh fuzz
mode=${1:-smoke}
run() {
  local name=$1 secs=$2
  mkdir -p "fuzz/corpus/$name" fuzz/findings
  local work; work=$(mktemp -d)
  "build/fuzz/$name" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix=fuzz/findings/ "$work" "fuzz/corpus/$name" 2>&1 | tail -n 3
  rm -rf "$work"
}
shopt -s nullglob
if [ "$mode" = smoke ]; then
  for exe in build/fuzz/*_fuzz; do run "$(basename "$exe")" "${FUZZ_SECONDS:-10}"; done
else
  run "$mode" "${2:-300}"
fi
