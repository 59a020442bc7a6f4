#!/usr/bin/env bash
# This build's count files and console transcripts beside a baseline's, byte
# for byte: tallomer c 1, 3, 8, 19 and w 1, 2, 3, each with one thread
# (taskset -c 0) and with every CPU, and tallomer-merge 1/1 and 2/3 + 3/3 of
# the corpus cut into 5 parts against tallomer's count file. Prints one
# line per case and DIFFERENT where bytes differ; exit status 1 if any do.
#
#   BENCH_BASELINE=DIR        folder of the baseline's tallomer (required)
#   BENCH_BUILD=build         this build
#   BENCH_INPUT=FILE          the corpus (default: 30 MB of bench/data's 300 MB corpus)
#   BENCH_WORK=bench/data/same
set -euo pipefail
cd "$(dirname "$0")/.."

baseline=${BENCH_BASELINE:?BENCH_BASELINE must name the baseline build\'s folder}
build=${BENCH_BUILD:-build}
work=${BENCH_WORK:-bench/data/same}
mkdir -p "$work"
input=${BENCH_INPUT:-}
if [ -z "$input" ]; then
  input=$work/input.txt
  [ -f "$input" ] || head -c 30000000 bench/data/corpus-300000000.txt >"$input"
fi

different=0
check() { # WHAT FILE1 FILE2
  if cmp -s "$2" "$3"; then echo "same       $1"; else echo "DIFFERENT  $1"; different=1; fi
}

for mode in "c 1" "c 3" "c 8" "c 19" "w 1" "w 2" "w 3"; do
  read -r m n <<<"$mode"
  for threads in 1 all; do
    pin=()
    [ "$threads" = 1 ] && pin=(taskset -c 0)
    for which in baseline this; do
      bin=$build/tallomer
      [ "$which" = baseline ] && bin=$baseline/tallomer
      "${pin[@]}" "$bin" "$m" "$n" "$input" "$work/$which.txt" </dev/null >"$work/$which.console" 2>&1
    done
    check "tallomer $mode, threads $threads: count file" "$work/baseline.txt" "$work/this.txt"
    check "tallomer $mode, threads $threads: console" "$work/baseline.console" "$work/this.console"
  done
  if [ "$mode" = "c 8" ] || [ "$mode" = "w 3" ]; then
    cp "$work/this.txt" "$work/whole.txt"
  fi
done

# Merges of parts against tallomer's count file (c 8).
bytes=$(stat -c %s "$input")
size=$(((bytes + 4) / 5))
rm -f "$work"/p-*.part
for ((i = 0; i * size < bytes; i++)); do
  to=$(((i + 1) * size))
  ((to >= bytes)) && to=end
  "$build/tallomer-part" c 8 "$input" $((i * size)) "$to" "$work/p-$i.part" >/dev/null
done
"$build/tallomer" c 8 "$input" "$work/whole.txt" </dev/null >/dev/null
for threads in 1 all; do
  pin=()
  [ "$threads" = 1 ] && pin=(taskset -c 0)
  "${pin[@]}" "$build/tallomer-merge" 1/1 "$work/merged.txt" "$work"/p-*.part >/dev/null
  check "tallomer-merge 1/1 of 5 parts, threads $threads" "$work/whole.txt" "$work/merged.txt"
  for k in 1 2 3; do "${pin[@]}" "$build/tallomer-merge" "$k/3" "$work/range-$k.txt" "$work"/p-*.part >/dev/null; done
  cat "$work"/range-{1,2,3}.txt >"$work/merged.txt"
  check "tallomer-merge k/3 of 5 parts concatenated, threads $threads" "$work/whole.txt" "$work/merged.txt"
done
rm -f "$work"/p-*.part "$work"/range-*.txt "$work"/{baseline,this,whole,merged}.txt
exit "$different"
