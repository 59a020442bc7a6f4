#!/usr/bin/env bash
# Benchmark of many small inputs (see bench/README.md): the one-machine
# workflow (cluster/parallel-count) planning and counting thousands of small
# files, with the time of planning alone and of each step of the count (the
# part tasks, the range merges, the concatenation) from the work folder's
# files. With BENCH_BASELINE, another checkout's cluster/ and build/ run the
# same cases after this one's, and the two count files are compared.
#
#   BENCH_INPUTS=10000      how many inputs
#   BENCH_INPUT_BYTES=40    bytes of each (cut from the bench corpus)
#   BENCH_MODE="c 5"        what is counted
#   BENCH_PARTBYTES=100000  parallel-count's PARTBYTES (10,000 inputs of 40
#                           bytes: 4 part tasks)
#   BENCH_RANGES=2          parallel-count's RANGES
#   BENCH_BASELINE=DIR      a checkout with its programs built in DIR/build
#   BENCH_BUILD=build-bench, BENCH_DATA=bench/data, BENCH_WORK=bench/data/many
set -euo pipefail
cd "$(dirname "$0")/.."

inputs=${BENCH_INPUTS:-10000}
inputBytes=${BENCH_INPUT_BYTES:-40}
read -r mode n <<<"${BENCH_MODE:-c 5}"
partBytes=${BENCH_PARTBYTES:-100000}
ranges=${BENCH_RANGES:-2}
build=${BENCH_BUILD:-build-bench}
data=${BENCH_DATA:-bench/data}
work=$(mkdir -p "${BENCH_WORK:-$data/many}" && cd "${BENCH_WORK:-$data/many}" && pwd)
# shellcheck disable=SC2034 # the corpus size, for corpus.sh
bytes=$((inputs * inputBytes))
# shellcheck source=bench/corpus.sh
source bench/corpus.sh

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNGRAM_BENCH=ON -DNGRAM_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
bin=$(cd "$build" && pwd)
makeCorpus "$bin/bench/generate_corpus" quiet

# The inputs, cut from the corpus once: input i holds bytes i x BYTES on.
inputDir=$work/inputs-$inputs-$inputBytes
if [ ! -d "$inputDir" ]; then
  mkdir "$inputDir.tmp"
  split -b "$inputBytes" -a 6 -d --additional-suffix=.txt "$corpus" "$inputDir.tmp/"
  mv "$inputDir.tmp" "$inputDir"
fi
printf '%s\n' "$inputDir"/*.txt >"$work/inputs.txt"

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Inputs: $inputs of $inputBytes bytes; $mode $n, PARTBYTES $partBytes, RANGES $ranges"
echo
printf '| %-10s | %7s | %10s | %8s | %11s | %8s | %8s | %8s | %7s | %s\n' build "plan s" "plan CPU s" "count s" \
  "its plan s" "parts s" "ranges s" "concat s" "CPU s" check
printf '|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n' ------------ --------- ------------ ---------- ------------- ---------- ---------- \
  ---------- ---------

# since START FILE...: seconds from START (as date +%s.%N) to the latest
# modification time of the files.
since() {
  local start=$1
  shift
  find "$@" -maxdepth 0 -printf '%T@\n' | sort -n | tail -1 | awk -v a="$start" '{ printf "%.2f", $1 - a }'
}

# run NAME CHECKOUT BIN: plans alone (sourcing the checkout's plan.sh), then
# counts with its parallel-count, and prints a row.
run() {
  local name=$1 cluster=$2/cluster programs=$3 out=$work/$1.txt start planned planCpu counted user system check
  rm -rf "$out" "$out.work"
  # shellcheck disable=SC2016 # expanded by the bash that plans
  /usr/bin/time -f '%e %U %S' -o "$work/timing" env TALLOMER_BIN="$programs" bash -c 'set -euo pipefail
    source "$1/plan.sh"; shift; findPrograms; parseCounting "$@"; readInputs' plan "$cluster" \
    "$mode" "$n" "$out" "$work/inputs.txt" "$partBytes" "$ranges" </dev/null
  read -r planned user system <"$work/timing"
  planCpu=$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')
  start=$(date +%s.%N)
  /usr/bin/time -f '%e %U %S' -o "$work/timing" env TALLOMER_BIN="$programs" \
    "$cluster/parallel-count" "$mode" "$n" "$out" "$work/inputs.txt" "$partBytes" "$ranges" \
    </dev/null >/dev/null 2>"$work/stderr" || { echo "| $name | failed: $(tail -1 "$work/stderr")"; return 1; }
  read -r counted user system <"$work/timing"
  # Each step ends with its last output; the next starts then.
  local plan parts ranges concat
  plan=$(since "$start" "$out.work/tasks.txt")
  parts=$(since "$start" "$out.work/parts"/*.part)
  ranges=$(since "$start" "$out.work/ranges"/*.txt)
  concat=$(since "$start" "$out")
  check=$(awk -F';' -v n="$n" -v inputs="$inputs" -v each="$inputBytes" -v mode="$mode" '
    { total += $2 } END {
      if (mode != "c") { print total " in all"; exit }
      expected = inputs * (each - n + 1)
      print total " in all, " (total == expected ? "as expected" : "EXPECTED " expected) }' "$out")
  [ ! -e "$work/first.txt" ] || check="$check, $(cmp -s "$work/first.txt" "$out" && echo same || echo DIFFERENT) count file"
  [ -e "$work/first.txt" ] || cp "$out" "$work/first.txt"
  minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a - b }'; }
  printf '| %-10s | %7s | %10s | %8s | %11s | %8s | %8s | %8s | %7s | %s\n' "$name" "$planned" "$planCpu" \
    "$counted" "$plan" \
    "$(minus "$parts" "$plan")" "$(minus "$ranges" "$parts")" "$(minus "$concat" "$ranges")" \
    "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')" "$check"
  rm -rf "$out" "$out.work"
}
rm -f "$work/first.txt"
run this . "$bin"
if [ -n "${BENCH_BASELINE:-}" ]; then
  run baseline "$BENCH_BASELINE" "$(cd "$BENCH_BASELINE/build" && pwd)"
fi
rm -f "$work/first.txt" "$work/timing" "$work/stderr"
echo
echo "plan s: planning alone (the checks and the plan, nothing written), and its CPU s; count s: the whole parallel-count," \
  "of which its plan s (to tasks.txt), parts s (to the last part), ranges s (to the last range) and" \
  "concat s (to OUTPUT); CPU s: of all its processes. Counts total the windows of every input" \
  "(c mode: BYTES - N + 1 each)."
