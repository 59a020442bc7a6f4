#!/usr/bin/env bash
# tallomer-merge 1/1 of 8 parts with --min-count=2 beside the same merge
# without it, in turns (full, thresholds, full, ...) so that a busy machine
# slows all alike, with one thread (taskset -c 0) and on every core;
# --min-count=1 writes the full file's bytes, so beside the full merge it
# shows what the check itself costs. Every thresholded count file must be
# the full one less its entries counted fewer times: the full file filtered
# here by the count file's reading rule (a line with a ';' ends an entry,
# the lines before it without one are the front of its text; the corpus
# holds no ';').
#
#   BENCH_BYTES=100000000        corpus size (the corpus of bench/run.sh)
#   BENCH_CORPUS=short           short or long, as bench/run.sh
#   BENCH_MODE="c 8"             what is counted
#   BENCH_MIN_COUNTS="1 2"
#   BENCH_REPEATS=3              turns of each case
#   BENCH_BUILD=build-bench      this build (with the bench helpers)
#   BENCH_DATA=bench/data        where the corpus is cached
#   BENCH_WORK=bench/data/min-count  parts and outputs (kept parts are reused)
set -euo pipefail
cd "$(dirname "$0")/.."

bytes=${BENCH_BYTES:-100000000}
read -r mode n <<<"${BENCH_MODE:-c 8}"
read -r -a thresholds <<<"${BENCH_MIN_COUNTS:-1 2}"
repeats=${BENCH_REPEATS:-3}
build=${BENCH_BUILD:-build-bench}
data=${BENCH_DATA:-bench/data}
# shellcheck source=bench/corpus.sh
source bench/corpus.sh
work=${BENCH_WORK:-$data/min-count}
mkdir -p "$work"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNGRAM_BENCH=ON -DNGRAM_TESTS=OFF >/dev/null
nice cmake --build "$build" -j2 >/dev/null
program() { find "$build" -maxdepth 2 -type f -name "$1" -perm -u+x | head -1; }
makeCorpus "$(program generate_corpus)" quiet

parts=$work/parts-$mode$n-$(basename "$corpus")
if [ ! -d "$parts" ]; then
  mkdir -p "$parts.tmp"
  size=$(((bytes + 7) / 8))
  for ((i = 0; i * size < bytes; i++)); do
    to=$(((i + 1) * size)); ((to >= bytes)) && to=end
    "$build/tallomer-part" "$mode" "$n" "$corpus" $((i * size)) "$to" "$parts.tmp/p$i.part" >/dev/null
  done
  mv "$parts.tmp" "$parts"
fi

echo "Machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); $mode $n of $bytes bytes, 8 parts"
printf '| %-12s | %-7s | %4s | %8s | %8s | %10s | %s\n' case threads turn "wall s" "CPU s" "out MB" check
for ((turn = 1; turn <= repeats; turn++)); do
  for threads in 1 all; do
    pin=()
    [ "$threads" = 1 ] && pin=(taskset -c 0)
    for which in full "${thresholds[@]/#/min }"; do
      options=()
      least=${which#min }
      [ "$which" = full ] || options=(--min-count="$least")
      out=$work/${which// /-}.txt
      /usr/bin/time -f '%e %U %S' -o "$work/timing" "${pin[@]}" "$build/tallomer-merge" "${options[@]}" 1/1 \
        "$out" "$parts"/*.part >"$work/console"
      read -r wall user system <"$work/timing"
      check=
      if [ "$which" != full ]; then
        filtered=$work/filtered-$least.txt
        [ -f "$filtered" ] || LC_ALL=C awk -v least="$least" '{ text = text $0 "\n" }
          index($0, ";") { if (substr($0, index($0, ";") + 1) + 0 >= least) printf "%s", text; text = "" }' \
          "$work/full.txt" >"$filtered"
        check="DIFFERENT from the full file filtered"
        cmp -s "$filtered" "$out" && check="same as the full file filtered"
        check="$check; $(sed 's/.*range 1\/1, //' "$work/console")"
      fi
      printf '| %-12s | %-7s | %4d | %8.2f | %8.2f | %10.1f | %s\n' "$which" "$threads" "$turn" "$wall" \
        "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')" \
        "$(awk -v b="$(stat -c %s "$out")" 'BEGIN { print b / 1e6 }')" "$check"
    done
  done
done
rm -f "$work"/{full,min-*,filtered-*}.txt "$work/timing" "$work/console"
