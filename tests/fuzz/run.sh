#!/usr/bin/env bash
# Fuzzes the portable core for a fixed time (default 60 s) with ASan/UBSan.
# Any crash or sanitizer report fails the run. Prints the executions reached.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
[ -f build/fuzz/build.ninja ] || cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$work/fuzz.log
# New inputs go to a scratch folder; the committed seed corpus stays as it is.
if ! build/fuzz/tests/fuzz/kelvane_fuzz -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$work/" "$work" tests/fuzz/corpus >"$log" 2>&1; then
  tail -40 "$log"
  echo "fuzz: FAILED"
  exit 1
fi
runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
echo "fuzz: ${runs} executions in ${seconds} s, no crash or sanitizer report"
