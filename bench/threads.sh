#!/usr/bin/env bash
# One CPU against all of them, side by side: each case runs under
# `taskset -c 0` and on every CPU the process may use, alternately,
# BENCH_REPEAT times, and prints the wall seconds of each, the best ratio
# (all / one), CPU seconds and peak RSS. Every run's count file and console
# must be byte-identical to the first one-CPU run's ("same" in the table).
#
#   BENCH_BYTES, BENCH_CORPUS, BENCH_BUILD, BENCH_DATA, BENCH_WORK  as in run.sh
#   BENCH_CASES="c 8|c 19|w 1|w 3"   cases, '|' between them; "part c 8" runs
#                                    tallomer-part over the whole corpus,
#                                    "c 19 limited" runs under ulimit -v 3000000
#   BENCH_REPEAT=2                   runs of each kind
#   BENCH_BASELINE=path              an older tallomer, run on one CPU beside
set -euo pipefail
cd "$(dirname "$0")/.."

bytes=${BENCH_BYTES:-300000000}
build=${BENCH_BUILD:-build-bench}
data=${BENCH_DATA:-bench/data}
repeat=${BENCH_REPEAT:-2}
baseline=${BENCH_BASELINE:-}
IFS='|' read -r -a cases <<<"${BENCH_CASES:-c 8|c 19|w 1|w 3}"
# shellcheck source=bench/corpus.sh
source bench/corpus.sh
work=${BENCH_WORK:-$data/run}
mkdir -p "$work"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNGRAM_BENCH=ON -DNGRAM_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
program() { find "$build" -maxdepth 2 -type f -name "$1" -perm -u+x | head -1; }
makeCorpus "$(program generate_corpus)" quiet

echo "Machine: $(nproc) CPUs for this process; corpus $corpus, $bytes bytes"
printf '| %-16s | %-18s | %-18s | %5s | %-15s | %-13s | %4s |\n' case "one CPU s" "all CPUs s" ratio \
  "CPU s one/all" "peak MB one/all" same
printf '|%s|%s|%s|%s|%s|%s|%s|\n' ------------------ -------------------- -------------------- ------- \
  ----------------- --------------- ------

# run TAG PINNED LIMIT COMMAND...: one timed run; its output and console
# are kept as $work/out-TAG and $work/console-TAG.
run() {
  local tag=$1 pinned=$2 limit=$3
  shift 3
  rm -f "$work/out-$tag"
  (if [ -n "$limit" ]; then ulimit -v "$limit"; fi
    if [ "$pinned" = yes ]; then set -- taskset -c "$(cut -d, -f1 <<<"$(taskset -pc $$ | sed 's/.*: //' | tr '-' ',')")" "$@"; fi
    exec /usr/bin/time -f '%e %U %S %M' -o "$work/timing-$tag" "$@" </dev/null >"$work/console-$tag" 2>&1)
  sed -i "s#$work/out-$tag#OUTPUT#g" "$work/console-$tag"
  tail -1 "$work/timing-$tag"
}

for case in "${cases[@]}"; do
  arguments=${case% limited}
  limit=
  [ "$case" != "$arguments" ] && limit=3000000
  command=("$(program tallomer)")
  older=("$baseline")
  if [ "${arguments%% *}" = part ]; then
    arguments=${arguments#part }
    command=("$(program tallomer-part)")
    older=()
  fi
  # shellcheck disable=SC2206 # mode and N are two words
  words=($arguments)
  args() { if [ "${command[0]##*/}" = tallomer-part ]; then echo "$corpus 0 end"; else echo "$corpus"; fi; }
  one=() all=() cpuOne='' cpuAll='' rssOne='' rssAll='' same=yes
  for ((i = 0; i < repeat; ++i)); do
    # shellcheck disable=SC2046 # the arguments are words
    read -r s u y m < <(run one yes "$limit" "${command[@]}" "${words[@]}" $(args) "$work/out-one")
    one+=("$s") cpuOne=$(awk -v u="$u" -v y="$y" 'BEGIN { print u + y }') rssOne=$((m / 1024))
    [ $i -eq 0 ] && mv "$work/out-one" "$work/expected" && mv "$work/console-one" "$work/expected-console"
    [ $i -gt 0 ] && { cmp -s "$work/out-one" "$work/expected" && cmp -s "$work/console-one" "$work/expected-console" || same=no; }
    # shellcheck disable=SC2046
    read -r s u y m < <(run all no "$limit" "${command[@]}" "${words[@]}" $(args) "$work/out-all")
    all+=("$s") cpuAll=$(awk -v u="$u" -v y="$y" 'BEGIN { print u + y }') rssAll=$((m / 1024))
    cmp -s "$work/out-all" "$work/expected" && cmp -s "$work/console-all" "$work/expected-console" || same=no
  done
  best() { printf '%s\n' "$@" | sort -n | head -1; }
  ratio=$(awk -v a="$(best "${all[@]}")" -v o="$(best "${one[@]}")" 'BEGIN { printf "%.2f", a / o }')
  printf '| %-16s | %-18s | %-18s | %5s | %-15s | %-13s | %4s |\n' "$case" "${one[*]}" "${all[*]}" "$ratio" \
    "$cpuOne / $cpuAll" "$rssOne / $rssAll" "$same"
  if [ -n "${older[0]:-}" ]; then
    # shellcheck disable=SC2046
    read -r s u y m < <(run older yes "$limit" "${older[@]}" "${words[@]}" $(args) "$work/out-older")
    olderSame=yes
    cmp -s "$work/out-older" "$work/expected" || olderSame=no
    printf '| %-16s | %-18s | %-18s | %5s | %-15s | %-13s | %4s |\n' "  before, 1 CPU" "$s" - - \
      "$(awk -v u="$u" -v y="$y" 'BEGIN { print u + y }')" "$((m / 1024))" "$olderSame"
  fi
  rm -f "$work"/out-* "$work/expected" "$work"/console-* "$work/expected-console" "$work"/timing-*
done
