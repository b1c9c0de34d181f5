#!/usr/bin/env bash
# Runs every fuzz target of a KIP_FUZZ build for SECONDS each (default 20), one after another,
# growing a corpus per target under BUILD/fuzz-corpus (seeded by make_corpus.py), and prints the
# executions each made. Findings (crash-*, leak-*, timeout-*) land in BUILD/fuzz-findings. The
# inputs of past findings under fuzz/regressions/TARGET are run first, every time.
# Usage: fuzz/run.sh BUILD [SECONDS] [TARGET...]
set -euo pipefail
build=${1:?usage: fuzz/run.sh BUILD [SECONDS] [TARGET...]}
seconds=${2:-20}
shift $(( $# >= 2 ? 2 : 1 ))
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$build"/fuzz/*_fuzz; do targets+=("$(basename "$t")"); done
fi
corpus=$build/fuzz-corpus
findings=$build/fuzz-findings
mkdir -p "$corpus" "$findings"
/usr/bin/python3 "$here/make_corpus.py" "$build/fuzz-seeds"
status=0
for t in "${targets[@]}"; do
  mkdir -p "$corpus/$t"
  log=$build/fuzz-$t.log
  past=()
  [ -d "$here/regressions/$t" ] && past=("$here/regressions/$t")
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$findings/$t-" "$corpus/$t" "$build/fuzz-seeds/$t" "${past[@]}" >"$log" 2>&1; then
    echo "$t: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') executions, no finding"
  else
    echo "$t: FINDING, see $log"; tail -40 "$log"; status=1
  fi
done
exit $status
