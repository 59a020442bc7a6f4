#!/usr/bin/env bash
# Using a count file: tallomer-top 100 and tallomer-find of 1,000 n-grams on
# the c 8 count file of the bench corpus, beside `wc -l` of the same file,
# side by side in one run (each round runs wc -l, then tallomer-top on every
# CPU and on one, then tallomer-find), the file warm in the page cache. Prints
# each run's wall, user and system seconds and peak RSS, then the medians
# and tallomer-top's ratio to wc -l, with `uptime` before and after (the
# machine may be shared).
#
#   BENCH_BYTES=300000000   corpus size; its c 8 count file is about 4.7 times
#                           as large (cached in BENCH_DATA as c8-BYTES.txt)
#   BENCH_ROUNDS=5          rounds
#   BENCH_BUILD=build-bench build directory
#   BENCH_DATA=bench/data   where the corpus and the count file are cached
set -euo pipefail
cd "$(dirname "$0")/.."

bytes=${BENCH_BYTES:-300000000}
rounds=${BENCH_ROUNDS:-5}
build=${BENCH_BUILD:-build-bench}
data=${BENCH_DATA:-bench/data}
# shellcheck source=bench/corpus.sh
source bench/corpus.sh
mkdir -p "$data"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNGRAM_BENCH=ON -DNGRAM_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
program() { find "$build" -maxdepth 2 -type f -name "$1" -perm -u+x | head -1; }
makeCorpus "$(program generate_corpus)"
counts=$data/c8-$bytes.txt
if [ ! -f "$counts" ]; then
  echo "Counting $counts ..."
  "$(program tallomer)" c 8 "$corpus" "$counts.part" </dev/null >/dev/null
  mv "$counts.part" "$counts"
fi

# 1,000 n-grams, one a line: the first 8 bytes of lines of the corpus (each
# an entry of the count file), every other one with its first byte made a
# '#', which no corpus text holds (so absent), spread over the corpus.
ngrams=$(mktemp)
timing=$(mktemp)
trap 'rm -f "$ngrams" "$timing"' EXIT
LC_ALL=C awk -v every="$(($(wc -l <"$corpus") / 1000))" \
  'NR % every == 0 && length($0) > 9 && n < 1000 { t = substr($0, 1, 8); if (n % 2) t = "#" substr(t, 2); print t; n++ }' \
  "$corpus" >"$ngrams"

cat "$counts" >/dev/null # into the page cache
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "Count file: $counts, $(stat -c %s "$counts") bytes; $(wc -l <"$ngrams") n-grams to find"
echo "Before: $(uptime)"
printf '| %-24s | %6s | %6s | %6s | %7s |\n' run wall user system "RSS MB"
printf '|%s|%s|%s|%s|%s|\n' -------------------------- -------- -------- -------- ---------

declare -A walls
# run NAME COMMAND...: one timed run, its line, its wall seconds kept.
run() {
  local name=$1
  shift
  /usr/bin/time -f '%e %U %S %M' -o "$timing" "$@" >/dev/null
  local wall user system rss
  read -r wall user system rss <"$timing"
  printf '| %-24s | %6.2f | %6.2f | %6.2f | %7.0f |\n' "$name" "$wall" "$user" "$system" "$((rss / 1024))"
  walls[$name]+="$wall "
}
top=$(program tallomer-top)
for ((round = 1; round <= rounds; round++)); do
  run "wc -l" wc -l "$counts"
  run "tallomer-top 100" "$top" 100 "$counts"
  run "tallomer-top 100, 1 CPU" taskset -c 0 "$top" 100 "$counts"
  run "tallomer-find 1000" "$(program tallomer-find)" "$counts" - <"$ngrams"
done
echo "After: $(uptime)"

median() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for name in "wc -l" "tallomer-top 100" "tallomer-top 100, 1 CPU" "tallomer-find 1000"; do
  echo "Median wall of $name: $(median "${walls[$name]}") s"
done
awk -v t="$(median "${walls[tallomer-top 100]}")" -v w="$(median "${walls[wc -l]}")" \
  'BEGIN { printf "tallomer-top 100 over wc -l: %.2f\n", t / w }'
