#!/usr/bin/env bash
# The rate of reading a compressed corpus through StoredInput against the
# command-line decompressor writing to /dev/null (plain: dd bs=1M), in MB/s
# (10^6 bytes a second) of decompressed data, best of ROUNDS runs taken in
# turns. The library reads 1 MiB at a time, as the command does, and 100 MB
# at a time into one buffer, as a chunk of tallomer-part is read; the ratio
# is of the 1 MiB reads to the command. The compressed copies (default
# levels, bzip2 -9) are made once beside the corpus; bench/run.sh makes the
# corpus.
#   bench/decompress.sh [CORPUS]       default bench/data/corpus-300000000.txt
#   ROUNDS=3 BENCH_BUILD=build-bench
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=${1:-bench/data/corpus-300000000.txt}
rounds=${ROUNDS:-3}
build=${BENCH_BUILD:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNGRAM_BENCH=ON -DNGRAM_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target read_stored >/dev/null
reader=$build/bench/read_stored
bytes=$(stat -c %s "$corpus")

declare -A compress=([gz]="gzip -c" [zst]="zstd -q -c" [xz]="xz -T1 -c" [bz2]="bzip2 -9 -c")
declare -A decompress=([plain]="plainRead" [gz]="gzip -dc" [zst]="zstd -q -dc" [xz]="xz -dc" [bz2]="bzip2 -dc")
plainRead() { dd if="$1" bs=1M status=none; }
# Seconds of one run of a command, its output thrown away.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
# Seconds read_stored took (its own clock: its buffer is mapped before).
libraryRead() { "$reader" "$1" "$2" | sed -E 's/.*, ([0-9.]+) s,.*/\1/'; }
least() { if [ -z "$1" ] || (($(echo "$2 < $1" | bc -l))); then echo "$2"; else echo "$1"; fi; }
rate() { printf '%.1f' "$(echo "$bytes / $1 / 1000000" | bc -l)"; }

echo "Corpus: $corpus, $bytes bytes; $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
printf '| %-6s | %9s | %12s | %18s | %6s | %20s |\n' format "stored MB" "command MB/s" "library MB/s, 1 MiB" ratio \
  "library MB/s, 100 MB"
printf '|%s|%s|%s|%s|%s|%s|\n' -------- ----------- -------------- -------------------- -------- ----------------------
for format in plain gz zst xz bz2; do
  file=$corpus
  if [ "$format" != plain ]; then
    file=$corpus.$format
    [ -f "$file" ] || ${compress[$format]} "$corpus" >"$file"
  fi
  command= small= large=
  for ((round = 0; round < rounds; ++round)); do
    command=$(least "$command" "$(seconds ${decompress[$format]} "$file")")
    small=$(least "$small" "$(libraryRead "$file" 1048576)")
    large=$(least "$large" "$(libraryRead "$file" 100000000)")
  done
  printf '| %-6s | %9.1f | %12s | %18s | %6.2f | %20s |\n' "$format" "$(echo "$(stat -c %s "$file") / 1000000" | bc -l)" \
    "$(rate "$command")" "$(rate "$small")" "$(echo "$command / $small" | bc -l)" "$(rate "$large")"
done
