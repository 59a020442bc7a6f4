#!/usr/bin/env bash
# tallomer-part over the corpus as it is stored: the whole plain file beside
# its copies compressed with gzip -6, zstd -3 and xz -6, each case run in
# turns BENCH_REPEAT times, in MB/s of data (10^6 bytes a second, best run),
# with the ratio to the plain file; beside them the command-line
# decompressor alone (to /dev/null), the ceiling where counting is faster
# than decompressing. Every part must merge to the plain file's counts.
#
#   BENCH_BYTES, BENCH_CORPUS, BENCH_BUILD, BENCH_DATA, BENCH_WORK  as in run.sh
#   BENCH_CASES="c 1|c 3|c 8|w 3"   cases, '|' between them
#   BENCH_FORMATS="gz zst xz"       the compressed copies, made once beside the corpus
#   BENCH_REPEAT=2                  runs of each
set -euo pipefail
cd "$(dirname "$0")/.."

bytes=${BENCH_BYTES:-300000000}
build=${BENCH_BUILD:-build-bench}
data=${BENCH_DATA:-bench/data}
repeat=${BENCH_REPEAT:-2}
IFS='|' read -r -a cases <<<"${BENCH_CASES:-c 1|c 3|c 8|w 3}"
read -r -a formats <<<"${BENCH_FORMATS:-gz zst xz}"
# shellcheck source=bench/corpus.sh
source bench/corpus.sh
work=${BENCH_WORK:-$data/run}
mkdir -p "$work"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNGRAM_BENCH=ON -DNGRAM_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
makeCorpus "$build/bench/generate_corpus"
declare -A compress=([gz]="gzip -6 -c" [zst]="zstd -3 -q -c" [xz]="xz -6 -T1 -c")
declare -A decompress=([gz]="gzip -dc" [zst]="zstd -q -dcf" [xz]="xz -dc")
for format in "${formats[@]}"; do
  [ -f "$corpus.$format" ] || { ${compress[$format]} "$corpus" >"$corpus.$format.tmp" && mv "$corpus.$format.tmp" "$corpus.$format"; }
done

# seconds COMMAND...: wall seconds of one run, its output thrown away.
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}
rate() { awk -v s="$1" -v bytes="$bytes" 'BEGIN { printf "%.1f", bytes / s / 1e6 }'; }
best() { printf '%s\n' "$@" | sort -g | head -1; }

echo "Machine: $(nproc) CPUs; corpus $corpus, $bytes bytes"
printf '| %-5s | %-6s | %9s | %8s | %-16s |\n' case format "MB/s" "of plain" "decompressor MB/s"
printf '|%s|%s|%s|%s|%s|\n' ------- -------- ----------- ---------- ------------------
for case in "${cases[@]}"; do
  read -r mode n <<<"$case"
  declare -A times=()
  for ((round = 0; round < repeat; ++round)); do
    for format in plain "${formats[@]}"; do
      file=$corpus
      [ "$format" = plain ] || file=$corpus.$format
      times[$format]="${times[$format]:-} $(seconds "$build/tallomer-part" "$mode" "$n" "$file" 0 end "$work/$format.part")"
    done
  done
  "$build/tallomer-merge" 1/1 "$work/plain.txt" "$work/plain.part" >/dev/null
  # shellcheck disable=SC2086 # the runs' times, one word each
  plain=$(best ${times[plain]})
  printf '| %-5s | %-6s | %9s | %8s | %-16s |\n' "$case" plain "$(rate "$plain")" 1.00 -
  for format in "${formats[@]}"; do
    "$build/tallomer-merge" 1/1 "$work/$format.txt" "$work/$format.part" >/dev/null
    cmp -s "$work/plain.txt" "$work/$format.txt" || { echo "$case $format: counts differ from the plain file's" >&2; exit 1; }
    # shellcheck disable=SC2086 # times one word each, the commands split
    t=$(best ${times[$format]}) alone=$(seconds ${decompress[$format]} "$corpus.$format")
    printf '| %-5s | %-6s | %9s | %8s | %16s |\n' "$case" "$format" "$(rate "$t")" \
      "$(awk -v a="$plain" -v b="$t" 'BEGIN { printf "%.2f", a / b }')" "$(rate "$alone")"
  done
  unset times
done
rm -f "$work"/{plain,gz,zst,xz}.{part,txt}
