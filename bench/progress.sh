#!/usr/bin/env bash
# How often tallomer-part's progress line moves while it counts the corpus:
# the run on a terminal (a pseudo-terminal of `script`), its line redrawn
# every 0.3 s; the longest stretch the bytes counted stood still and the
# largest step between two drawings; beside it the same count with standard
# error not a terminal (no line drawn), for what the line costs.
#
#   BENCH_BYTES, BENCH_CORPUS, BENCH_BUILD, BENCH_DATA, BENCH_WORK  as in run.sh
#   BENCH_CASES="c 1|c 8|w 1|w 3"   cases, '|' between them
set -euo pipefail
cd "$(dirname "$0")/.."

bytes=${BENCH_BYTES:-300000000}
build=${BENCH_BUILD:-build-bench}
data=${BENCH_DATA:-bench/data}
IFS='|' read -r -a cases <<<"${BENCH_CASES:-c 1|c 8|w 1|w 3}"
# shellcheck source=bench/corpus.sh
source bench/corpus.sh
work=${BENCH_WORK:-$data/run}
mkdir -p "$work"
command -v script >/dev/null || { echo "progress.sh needs script (util-linux)" >&2; exit 1; }

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNGRAM_BENCH=ON -DNGRAM_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
makeCorpus "$build/bench/generate_corpus"
part=$build/tallomer-part

# Draw interval of the progress line, in seconds.
interval=0.3

echo "Machine: $(nproc) CPUs; corpus $corpus, $bytes bytes"
printf '| %-4s | %6s | %16s | %12s | %10s | %12s |\n' case draws "longest still, s" "largest step" "wall, line" "wall, no line"
printf '|%s|%s|%s|%s|%s|%s|\n' ------ -------- ------------------ -------------- ------------ --------------
for case in "${cases[@]}"; do
  read -r mode n <<<"$case"
  start=$(date +%s%N)
  drawn=$(script -qec "$part $mode $n $corpus 0 end $work/progress.part" /dev/null </dev/null | tr '\r' '\n')
  lineWall=$((($(date +%s%N) - start) / 1000000))
  start=$(date +%s%N)
  "$part" "$mode" "$n" "$corpus" 0 end "$work/progress.part" >/dev/null 2>&1
  plainWall=$((($(date +%s%N) - start) / 1000000))
  # Each drawing of the counting phase: "counting X UNIT of ...".
  grep -o 'counting [0-9.]* [kMG]*B' <<<"$drawn" | awk -v interval="$interval" '
    { unit = $3 == "GB" ? 1e9 : $3 == "MB" ? 1e6 : $3 == "kB" ? 1e3 : 1; done = $2 * unit
      draws++
      if (draws > 1 && done == last) { still++; if (still > longest) longest = still } else still = 0
      if (draws > 1 && done - last > step) step = done - last
      last = done }
    END { printf "| %d | %.1f | %.1f MB |\n", draws, longest * interval, step / 1e6 }' |
    { read -r row; printf '| %-4s %s %.1f s | %.1f s |\n' "$case" "$row" "$(bc <<<"scale=1; $lineWall / 1000")" \
      "$(bc <<<"scale=1; $plainWall / 1000")"; }
done
rm -f "$work/progress.part"
