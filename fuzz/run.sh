#!/usr/bin/env bash
# Runs every fuzz target for a fixed time from its committed seeds.
#   fuzz/run.sh BUILD_DIR [SECONDS]
# New inputs go to a scratch corpus, so the committed seeds stay small.
set -uo pipefail
build=${1:?build directory}
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
failed=0
for target in "$build"/fuzz/*_fuzz; do
  name=$(basename "$target" _fuzz)
  scratch=$(mktemp -d)
  log=$(mktemp)
  echo "-- $name: ${seconds}s"
  "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$scratch/" \
    "$scratch" "$here/seeds/$name" >"$log" 2>&1
  status=$?
  grep -E '^stat::(number_of_executed_units|new_units_added)' "$log"
  if [ "$status" -ne 0 ]; then
    echo "fuzz target $name failed (exit $status):" >&2
    tail -n 60 "$log" >&2
    failed=1
  fi
  rm -rf "$scratch" "$log"
done
exit "$failed"
