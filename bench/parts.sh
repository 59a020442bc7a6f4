#!/usr/bin/env bash
# Benchmark of counting in parts (see bench/README.md): tallomer-part over the
# whole corpus beside tallomer, tallomer-merge from 2 to 64 parts into the
# whole count file (1/1) and into 4 ranges, and the one-machine workflow
# (cluster/parallel-count, 2 parts, 2 ranges) beside one tallomer run. Every
# count file made from parts is compared with tallomer's (cmp).
#
#   BENCH_BYTES=300000000   corpus size (the corpus of bench/run.sh)
#   BENCH_CORPUS=short      short or long, as in bench/run.sh
#   BENCH_MODE="c 8"        what is counted
#   BENCH_PARTS="2 4 8 16 32 64"
#   BENCH_BUILD=build-bench, BENCH_DATA=bench/data, BENCH_WORK=bench/data/parts
set -euo pipefail
cd "$(dirname "$0")/.."

bytes=${BENCH_BYTES:-300000000}
build=${BENCH_BUILD:-build-bench}
data=${BENCH_DATA:-bench/data}
work=${BENCH_WORK:-$data/parts}
read -r mode n <<<"${BENCH_MODE:-c 8}"
partCounts=${BENCH_PARTS:-2 4 8 16 32 64}
# shellcheck source=bench/corpus.sh
source bench/corpus.sh
mkdir -p "$work"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNGRAM_BENCH=ON -DNGRAM_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
bin=$(cd "$build" && pwd)
makeCorpus "$bin/bench/generate_corpus"

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "Corpus: $corpus, $bytes bytes; counting $mode $n"
echo
printf '| %-34s | %8s | %8s | %9s | %9s | %11s | %s\n' case seconds "CPU s" "in MB/s" "out MB/s" "peak RSS MB" check
printf '|%s|%s|%s|%s|%s|%s|\n' ------------------------------------ ---------- ---------- ----------- ----------- -------------

# timed NAME IN_BYTES COMMAND...: runs the command and sets lastSeconds,
# lastCpu (user + system) and lastRss for row. The MB/s are of CPU time
# (one thread each), which a busy machine stretches less than wall time.
lastSeconds=0 lastCpu=0
timed() {
  local name=$1 inBytes=$2
  shift 2
  /usr/bin/time -f '%e %M %U %S' -o "$work/timing" "$@" </dev/null >/dev/null 2>"$work/stderr" ||
    { echo "| $name | failed: $(grep -v '^Command' "$work/stderr" | tail -1)"; return 1; }
  local user system
  read -r lastSeconds lastRss user system < <(tail -1 "$work/timing")
  lastCpu=$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')
}
row() { # NAME SECONDS CPU_SECONDS IN_BYTES OUT_BYTES RSS_KB CHECK
  printf '| %-34s | %8.2f | %8.2f | %9s | %9s | %11.0f | %s\n' "$1" "$2" "$3" \
    "$(awk -v b="$4" -v s="$3" 'BEGIN { printf "%.0f", b / 1e6 / s }')" \
    "$(awk -v b="$5" -v s="$3" 'BEGIN { printf "%.0f", b / 1e6 / s }')" \
    "$(awk -v k="$6" 'BEGIN { print k / 1024 }')" "$7"
}
same() { cmp -s "$1" "$counts" && echo same || echo DIFFERENT; }

# partSize PARTS: the bytes of each of PARTS parts; in word mode a multiple
# of the 100,000,000-byte chunk, so there may be fewer parts.
partSize() {
  local size=$(((bytes + $1 - 1) / $1)) chunk=100000000
  [ "$mode" = w ] && size=$(((size + chunk - 1) / chunk * chunk))
  echo "$size"
}

counts=$work/counts.txt
timed "tallomer" "$bytes" "$bin/tallomer" "$mode" "$n" "$corpus" "$counts"
countBytes=$(stat -c %s "$counts")
oneRun=$lastSeconds
row "tallomer $mode $n" "$lastSeconds" "$lastCpu" "$bytes" "$countBytes" "$lastRss" "$((countBytes / 1000000)) MB"
timed "part" "$bytes" "$bin/tallomer-part" "$mode" "$n" "$corpus" 0 end "$work/whole.part"
row "tallomer-part, whole corpus" "$lastSeconds" "$lastCpu" "$bytes" "$(stat -c %s "$work/whole.part")" "$lastRss" \
  "part file $(awk -v p="$(stat -c %s "$work/whole.part")" -v c="$countBytes" 'BEGIN { printf "%.0f", 100 * p / c }') % of count file"
timed "merge" 0 "$bin/tallomer-merge" 1/1 "$work/merged.txt" "$work/whole.part"
row "tallomer-merge 1/1 of 1 part" "$lastSeconds" "$lastCpu" "$(stat -c %s "$work/whole.part")" "$countBytes" "$lastRss" \
  "$(same "$work/merged.txt")"
rm -f "$work/whole.part" "$work/merged.txt"

for parts in $partCounts; do
  rm -f "$work"/p-*.part
  size=$(partSize "$parts")
  for ((i = 0; i * size < bytes; i++)); do
    to=$(((i + 1) * size))
    ((to >= bytes)) && to=end
    "$bin/tallomer-part" "$mode" "$n" "$corpus" $((i * size)) "$to" "$work/p-$i.part" >/dev/null
  done
  partBytes=$(cat "$work"/p-*.part | wc -c)
  parts=$(find "$work" -name 'p-*.part' | wc -l)
  timed "merge" 0 "$bin/tallomer-merge" 1/1 "$work/merged.txt" "$work"/p-*.part
  row "tallomer-merge 1/1 of $parts parts" "$lastSeconds" "$lastCpu" "$partBytes" "$countBytes" "$lastRss" \
    "$(same "$work/merged.txt"), parts $(awk -v p="$partBytes" -v c="$countBytes" 'BEGIN { printf "%.0f", 100 * p / c }') % of count file"
  total=0 totalCpu=0 peak=0
  for k in 1 2 3 4; do
    timed "merge" 0 "$bin/tallomer-merge" "$k/4" "$work/range-$k.txt" "$work"/p-*.part
    total=$(awk -v a="$total" -v b="$lastSeconds" 'BEGIN { print a + b }')
    totalCpu=$(awk -v a="$totalCpu" -v b="$lastCpu" 'BEGIN { print a + b }')
    ((lastRss > peak)) && peak=$lastRss
  done
  cat "$work"/range-{1,2,3,4}.txt >"$work/merged.txt"
  sizes=$(for k in 1 2 3 4; do stat -c %s "$work/range-$k.txt"; done | awk '{ printf "%s%.0f", (NR > 1 ? "/" : ""), $1 / 1e6 }')
  row "tallomer-merge k/4 of $parts parts (sum)" "$total" "$totalCpu" "$partBytes" "$countBytes" "$peak" \
    "$(same "$work/merged.txt"), ranges $sizes MB"
  rm -f "$work"/range-*.txt "$work/merged.txt"
done
rm -f "$work"/p-*.part

realpath "$corpus" >"$work/inputs.txt"
rm -rf "$work/flow.txt" "$work/flow.txt.work"
/usr/bin/time -f '%e %M %U %S' -o "$work/timing" env TALLOMER_BIN="$bin" \
  cluster/parallel-count "$mode" "$n" "$work/flow.txt" "$work/inputs.txt" "$(partSize 2)" 2 \
  </dev/null >/dev/null 2>"$work/stderr" || { echo "parallel-count failed: $(tail -1 "$work/stderr")"; exit 1; }
read -r flowSeconds flowRss user system < <(tail -1 "$work/timing")
row "parallel-count, 2 parts, 2 ranges" "$flowSeconds" "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')" "$bytes" "$countBytes" "$flowRss" \
  "$(same "$work/flow.txt"), $(awk -v f="$flowSeconds" -v o="$oneRun" 'BEGIN { printf "%.2f", f / o }') of one run"
rm -rf "$work/flow.txt" "$work/flow.txt.work" "$counts" "$work/inputs.txt"
echo
echo "in MB/s: of the corpus read (part runs) or of the part files read (merges);" \
  "out MB/s: of count file written; both per CPU second. Peak RSS of parallel-count is its largest task's;" \
  "its CPU time is that of all its tasks."
