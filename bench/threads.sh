#!/usr/bin/env bash
# One CPU against all of them, side by side: each case runs under
# `taskset -c 0` and on every CPU the process may use, alternately,
# BENCH_REPEAT times, and prints the wall seconds of each, the best ratio
# (all / one), the least CPU seconds, the largest peak RSS and, with
# BENCH_SERIAL_SHARE, the serial fraction on all CPUs. Every run's count
# file and console must be byte-identical to the first one-CPU run's
# ("same" in the table).
#
#   BENCH_BYTES, BENCH_CORPUS, BENCH_BUILD, BENCH_DATA, BENCH_WORK  as in run.sh
#   BENCH_CASES="c 8|c 19|w 1|w 3"   cases, '|' between them; "part c 8" runs
#                                    tallomer-part over the whole corpus,
#                                    "c 19 limited" runs under ulimit -v 3000000
#   BENCH_REPEAT=2                   runs of each kind
#   BENCH_BASELINE=path              an older tallomer, run in the same turns,
#                                    on one CPU and on all
#   BENCH_SERIAL_SHARE=path          a tool that runs a command and prints
#                                    "serial fraction N%" on standard error:
#                                    each turn adds an all-CPU run under it
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

serialShare=${BENCH_SERIAL_SHARE:-}

echo "Machine: $(nproc) CPUs for this process; corpus $corpus, $bytes bytes; load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '| %-16s | %-18s | %-18s | %5s | %-15s | %-13s | %-11s | %4s |\n' case "one CPU s" "all CPUs s" ratio \
  "CPU s one/all" "peak MB one/all" "serial" same
printf '|%s|%s|%s|%s|%s|%s|%s|%s|\n' ------------------ -------------------- -------------------- ------- \
  ----------------- --------------- ------------- ------

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

# serial LIMIT COMMAND...: the serial fraction of one run on all CPUs.
serial() {
  local limit=$1
  shift
  # As the timed runs: a new output, not one replacing the last run's,
  # whose freeing would be timed as well.
  rm -f "$work/out-serial"
  (if [ -n "$limit" ]; then ulimit -v "$limit"; fi
    exec "$serialShare" "$@" >/dev/null 2>"$work/serial") || true
  sed -nE 's/.*serial fraction ([0-9.]+%).*/\1/p' "$work/serial"
}

least() { printf '%s\n' "$@" | sort -g | head -1; }
most() { printf '%s\n' "$@" | sort -g | tail -1; }

for case in "${cases[@]}"; do
  arguments=${case% limited}
  limit=
  [ "$case" != "$arguments" ] && limit=3000000
  builds=("$(program tallomer)")
  [ -n "$baseline" ] && builds+=("$baseline")
  if [ "${arguments%% *}" = part ]; then
    arguments=${arguments#part }
    builds=("$(program tallomer-part)")
  fi
  # shellcheck disable=SC2206 # mode and N are two words
  words=($arguments)
  args() { if [ "${builds[0]##*/}" = tallomer-part ]; then echo "$corpus 0 end"; else echo "$corpus"; fi; }
  declare -A one=() all=() cpuOne=() cpuAll=() rssOne=() rssAll=() serials=() same=()
  for ((i = 0; i < repeat; ++i)); do
    for b in "${!builds[@]}"; do
      command=("${builds[$b]}")
      # shellcheck disable=SC2046 # the arguments are words
      read -r s u y m < <(run one yes "$limit" "${command[@]}" "${words[@]}" $(args) "$work/out-one")
      one[$b]+=" $s" cpuOne[$b]+=" $(awk -v u="$u" -v y="$y" 'BEGIN { print u + y }')" rssOne[$b]+=" $((m / 1024))"
      if [ $i -eq 0 ] && [ "$b" -eq 0 ]; then
        mv "$work/out-one" "$work/expected" && mv "$work/console-one" "$work/expected-console"
      else
        cmp -s "$work/out-one" "$work/expected" && cmp -s "$work/console-one" "$work/expected-console" || same[$b]=no
      fi
      # shellcheck disable=SC2046
      read -r s u y m < <(run all no "$limit" "${command[@]}" "${words[@]}" $(args) "$work/out-all")
      all[$b]+=" $s" cpuAll[$b]+=" $(awk -v u="$u" -v y="$y" 'BEGIN { print u + y }')" rssAll[$b]+=" $((m / 1024))"
      cmp -s "$work/out-all" "$work/expected" && cmp -s "$work/console-all" "$work/expected-console" || same[$b]=no
      # shellcheck disable=SC2046
      [ -n "$serialShare" ] && serials[$b]+=" $(serial "$limit" "${command[@]}" "${words[@]}" $(args) "$work/out-serial")"
    done
  done
  for b in "${!builds[@]}"; do
    # shellcheck disable=SC2086 # the lists are words
    ratio=$(awk -v a="$(least ${all[$b]})" -v o="$(least ${one[$b]})" 'BEGIN { printf "%.2f", a / o }')
    name=$case
    [ "$b" -gt 0 ] && name="  before"
    # shellcheck disable=SC2086
    printf '| %-16s | %-18s | %-18s | %5s | %-15s | %-13s | %-11s | %4s |\n' "$name" "${one[$b]# }" "${all[$b]# }" \
      "$ratio" "$(least ${cpuOne[$b]}) / $(least ${cpuAll[$b]})" "$(most ${rssOne[$b]}) / $(most ${rssAll[$b]})" \
      "${serials[$b]:--}" "${same[$b]:-yes}"
  done
  unset one all cpuOne cpuAll rssOne rssAll serials same
  rm -f "$work"/out-* "$work/expected" "$work"/console-* "$work/expected-console" "$work"/timing-* "$work/serial"
done
