#!/usr/bin/env bash
# Usage: scripts/fuzz-long.sh [MINUTES] [TARGET...]
# The long fuzzing campaign: each target (default: every fuzz/*_fuzz.cpp) runs MINUTES (default 30) under the
# address + undefined sanitizers of the fuzz build, one after the other, at low priority. Each target starts
# from its committed corpus and the matching test pictures under tests/data/; what it learns is kept in
# build/fuzz-long/<target>/corpus, so a second campaign (another session) continues where the first stopped.
# A finding does not end the target's time: it is logged, kept in fuzz/findings/, and fuzzing resumes
# (at most FUZZ_MAX_FINDINGS times per target). Every run appends one line to build/fuzz-long/hours.log:
#   <start UTC> <target> <seconds fuzzed> <executions> <findings> <corpus entries>
# Set FUZZ_SKIP_BUILD=1 to use the fuzz build as it is. FUZZ_TIMEOUT (seconds, default 60) is the time one
# input may take before it counts as a hang: generous, since the machine is shared and the sanitizers slow.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-30}
shift || true
[ "${FUZZ_SKIP_BUILD:-0}" = 1 ] || nice -n 15 bash scripts/build.sh fuzz
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
root=build/fuzz-long
mkdir -p "$root" fuzz/findings
log=$root/hours.log

# Test pictures that each reader understands, found by extension.
seed_patterns() {
  case "$1" in
    png_fuzz) echo '*.png' ;;
    bmp_fuzz | dib_fuzz) echo '*.bmp *.dib' ;;
    ico_fuzz) echo '*.ico *.cur' ;;
    jpeg_fuzz) echo '*.jpg *.jpeg' ;;
    metafile_fuzz) echo '*.emf *.EMF *.wmf *.WMF' ;;
    regfile_fuzz) echo '*.reg' ;;
    *) echo '' ;;
  esac
}

make_seeds() {
  local name=$1 seeds=$2 pattern file n=0
  rm -rf "$seeds"
  mkdir -p "$seeds"
  for pattern in $(seed_patterns "$name"); do
    while IFS= read -r -d '' file; do
      n=$((n + 1))
      if [ "$name" = jpeg_fuzz ]; then
        # The first byte chooses the decoding settings; seed a plain and a varied choice.
        { printf '\000'; cat "$file"; } >"$seeds/$n-a"
        { printf '\245'; cat "$file"; } >"$seeds/$n-b"
      else
        cp "$file" "$seeds/$n-$(basename "$file")"
      fi
    done < <(find tests/data -type f -name "$pattern" -print0)
  done
  if [ "$name" = formreader_fuzz ]; then
    # The program's own stored form, without the C++ raw-string wrapping.
    sed -n '/^R"FORM(/,/^)FORM"/p' app/Unit1Form.inc | sed -e 's/^R"FORM(//' -e '/^)FORM"/d' >"$seeds/Unit1Form.txt"
  fi
}

for name in "${targets[@]}"; do
  exe=build/fuzz/$name
  [ -x "$exe" ] || { echo "no fuzz target $exe" >&2; exit 2; }
  dir=$root/$name
  mkdir -p "$dir/corpus" "fuzz/corpus/$name"
  make_seeds "$name" "$dir/seeds"
  start=$(date -u +%FT%TZ)
  budget=$((minutes * 60)) spent=0 execs=0 findings=0
  while [ "$spent" -lt "$budget" ] && [ "$findings" -le "${FUZZ_MAX_FINDINGS:-5}" ]; do
    t0=$(date +%s)
    set +e
    nice -n 15 "$exe" -max_total_time=$((budget - spent)) -timeout="${FUZZ_TIMEOUT:-60}" -rss_limit_mb=2048 \
      -max_len="${FUZZ_MAX_LEN:-65536}" -print_final_stats=1 -artifact_prefix=fuzz/findings/"$name"- \
      "$dir/corpus" "fuzz/corpus/$name" "$dir/seeds" >"$dir/last.log" 2>&1
    rc=$?
    set -e
    spent=$((spent + $(date +%s) - t0))
    n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/last.log" | tail -n 1)
    execs=$((execs + ${n:-0}))
    if [ $rc -ne 0 ]; then
      findings=$((findings + 1))
      cp "$dir/last.log" "$dir/finding-$findings.log"
      echo "$name: finding (status $rc), see $dir/finding-$findings.log:" >&2
      grep -E '^(==[0-9]+==ERROR|SUMMARY|artifact_prefix|.*Test unit written)' "$dir/last.log" >&2 || true
    fi
  done
  entries=$(find "$dir/corpus" -type f | wc -l)
  echo "$start $name $spent $execs $findings $entries" | tee -a "$log"
done
