#!/usr/bin/env bash
# parallel-test.sh [BUILD]: parallel-count against one tallomer run per input,
# with one part task failing on the first run and redone by the second.
#   BUILD: the folder of the built programs (default: build/)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:-$here/../../build}" && pwd)
# shellcheck source-path=SCRIPTDIR
source "$here/common.sh"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export TMPDIR=$dir

makeCorpus 300000 "$dir/a-fail-me.txt" 1
makeCorpus 123457 "$dir/b.txt" 2
printf '%s\n' "$dir/a-fail-me.txt" "$dir/b.txt" >"$dir/inputs"
for input in a-fail-me b; do "$bin/tallomer" c 5 "$dir/$input.txt" "$dir/$input.counts" </dev/null >/dev/null; done
sumCounts "$dir/a-fail-me.counts" "$dir/b.counts" >"$dir/expected"
failingBin "$bin" "$dir/bin"
export TALLOMER_BIN=$dir/bin
log=$dir/log
count() { "$here/../parallel-count" c 5 "$dir/out.txt" "$dir/inputs" 50000 3 >"$log" 2>&1; }

check "a failing part fails the run" fails count
check "no count file after a failed part" test ! -e "$dir/out.txt"
rm "$dir/bin/fail"
check "the second run completes" count
# 9 parts: the header, 9 tasks in the first run, the failed one again.
check "the second run redoes the failed part only" \
  test "$(wc -l <"$dir/out.txt.work/logs/parts.joblog")" -eq 11
check "the same count file as tallomer" cmp "$dir/expected" "$dir/out.txt"
check "a run that is done again changes nothing" count
check "the same count file, run again" cmp "$dir/expected" "$dir/out.txt"
echo "parallel-test: passed"
