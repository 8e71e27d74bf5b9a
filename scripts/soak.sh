#!/usr/bin/env bash
# Usage: scripts/soak.sh [--minutes N | --seconds T] [--sample-seconds S] [--program PATH] [--max-growth-kb K] [--out DIR]
# A long headless run at "Snow storm" (1000 flakes) on a 1920x1080 screen with the virtual clock, so frames
# come as fast as the machine draws them. The program's resident memory is read every S seconds (default
# 60) for N minutes (default 20); then the run is ended with SIGTERM, which lets it finish its frame and
# write its snapshot. The memory curve goes to DIR/memory.tsv (default build/soak). It passes when no
# sample after the first exceeds the first by more than K kB (default 1024): memory settles within the
# first sample period and stays there. Without --program the release build is made and used.
# Run it beside other work with: nice -n 15 bash scripts/soak.sh
set -euo pipefail
cd "$(dirname "$0")/.."

total=$((20 * 60))
sample=60
program=""
max_growth_kb=1024
out=build/soak
while [ $# -gt 0 ]; do
  case "$1" in
    --minutes) total=$(($2 * 60)); shift 2 ;;
    --seconds) total=$2; shift 2 ;;
    --sample-seconds) sample=$2; shift 2 ;;
    --program) program=$2; shift 2 ;;
    --max-growth-kb) max_growth_kb=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "soak: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
if [ -z "$program" ]; then
  bash scripts/build.sh release --target desktop-snow
  program=build/release/desktop-snow
fi
[ -x "$program" ] || { echo "soak: no program at $program" >&2; exit 2; }
[ -r /proc/self/status ] || { echo "soak: needs /proc to read the resident memory" >&2; exit 2; }

mkdir -p "$out"
samples=$((total / sample))
[ "$samples" -ge 2 ] || { echo "soak: the run must last at least two samples" >&2; exit 2; }

"$program" --headless --screen 1920x1080 --density "Snow storm" --frames 1000000000 --seed 2026 \
  --snapshot "$out/last-frame.png" >"$out/run.log" 2>"$out/run.err" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null; }

echo "Soak: $total s at Snow storm on 1920x1080, resident memory every $sample s (pid $pid)"
printf 'seconds\trss_kb\n' >"$out/memory.tsv"
first=""
peak=0
status=0
for ((i = 1; i <= samples; i++)); do
  sleep "$sample"
  rss=$(rss_kb)
  if [ -z "$rss" ]; then
    echo "FAIL: the program ended before the soak did"
    cat "$out/run.err" >&2
    exit 1
  fi
  printf '%d\t%d\n' $((i * sample)) "$rss" >>"$out/memory.tsv"
  printf '  %5d s  %8d kB\n' $((i * sample)) "$rss"
  if [ -z "$first" ]; then first=$rss; fi
  if [ "$rss" -gt "$peak" ]; then peak=$rss; fi
done

kill -TERM "$pid"
wait "$pid" || status=$?
trap - EXIT
cat "$out/run.log"
if [ "$status" -ne 0 ]; then
  echo "FAIL: the program ended with status $status"
  cat "$out/run.err" >&2
  exit 1
fi
growth=$((peak - first))
if [ "$growth" -gt "$max_growth_kb" ]; then
  echo "FAIL: resident memory grew by $growth kB after the first sample ($first kB -> peak $peak kB)"
  exit 1
fi
echo "PASS: resident memory after the first sample stayed within $growth kB of $first kB"
