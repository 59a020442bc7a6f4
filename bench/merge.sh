#!/usr/bin/env bash
# tallomer-merge 1/1 from 1, 8 and 64 parts of one corpus, this build beside
# a baseline build, each with one thread (taskset -c 0) and with every
# core, side by side in one run. MB/s are of count file written per CPU
# second (user + system); every count file is compared with the first.
#
#   BENCH_CORPUS=/tmp/c300.txt   the corpus (made by bench/generate_corpus)
#   BENCH_MODE="c 8"             what is counted
#   BENCH_PARTS="1 8 64"
#   BENCH_BASELINE=DIR           folder of the baseline's tallomer-merge
#   BENCH_BUILD=build-rel        this build
#   BENCH_WORK=bench/data/merge  parts and outputs (kept parts are reused)
set -euo pipefail
cd "$(dirname "$0")/.."

corpus=${BENCH_CORPUS:-/tmp/c300.txt}
read -r mode n <<<"${BENCH_MODE:-c 8}"
build=${BENCH_BUILD:-build-rel}
work=${BENCH_WORK:-bench/data/merge}
mkdir -p "$work"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNGRAM_TESTS=OFF >/dev/null
nice cmake --build "$build" -j2 >/dev/null
bytes=$(stat -c %s "$corpus")

printf '| %-6s | %-8s | %-7s | %9s | %8s | %8s | %s\n' parts build threads "MB/s/CPU" "wall s" "CPU s" check
for parts in ${BENCH_PARTS:-1 8 64}; do
  dir=$work/p$parts
  if [ ! -d "$dir" ]; then
    mkdir -p "$dir"
    size=$(((bytes + parts - 1) / parts))
    for ((i = 0; i * size < bytes; i++)); do
      to=$(((i + 1) * size)); ((to >= bytes)) && to=end
      "$build/tallomer-part" "$mode" "$n" "$corpus" $((i * size)) "$to" "$dir/p-$(printf %03d $i).part" >/dev/null
    done
  fi
  for which in baseline this; do
    [ "$which" = baseline ] && [ -z "${BENCH_BASELINE:-}" ] && continue
    bin=$build/tallomer-merge
    [ "$which" = baseline ] && bin=$BENCH_BASELINE/tallomer-merge
    for threads in 1 all; do
      pin=()
      [ "$threads" = 1 ] && pin=(taskset -c 0)
      /usr/bin/time -f '%e %U %S' -o "$work/timing" "${pin[@]}" "$bin" 1/1 "$work/out.txt" "$dir"/*.part >/dev/null
      read -r wall user system <"$work/timing"
      out=$(stat -c %s "$work/out.txt")
      [ -f "$work/first.txt" ] || mv "$work/out.txt" "$work/first.txt"
      check=same
      [ -f "$work/out.txt" ] && { cmp -s "$work/out.txt" "$work/first.txt" || check=DIFFERENT; rm -f "$work/out.txt"; }
      cpu=$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')
      printf '| %-6s | %-8s | %-7s | %9.0f | %8.2f | %8.2f | %s\n' "$parts" "$which" "$threads" \
        "$(awk -v b="$out" -v c="$cpu" 'BEGIN { print b / 1e6 / c }')" "$wall" "$cpu" "$check"
    done
  done
done
rm -f "$work/first.txt" "$work/timing"
