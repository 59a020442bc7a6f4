#!/usr/bin/env bash
# Benchmark of the n-gram tools on a generated corpus (see bench/README.md).
# Builds in Release, generates the corpus once (cached in bench/data/), runs
# every case one after the other and prints one line per case: input MB,
# wall seconds, MB/s of input, peak RSS, temporary disk at its peak and runs
# spilled (tallomer built with NGRAM_STATISTICS reports them on standard
# error), distinct n-grams, and the speed ratio to the reference counter
# where it ran on the same case; then the speed of the word scan alone for
# N = 1 to 3. "c 19 limited" runs under ulimit -v 3000000 and must give the
# same count file as c 19.
#
#   BENCH_BYTES=300000000        corpus size; 1000000 is a smoke run of seconds
#   BENCH_CORPUS=short           short: words of 1 to 12 letters; long: 1 to 17
#                                letters in a real dictionary's lengths
#   REFERENCE_C8_BYTES=30000000  bytes of the corpus the reference counter reads
#                                for c 8 (it needs about 1 s and 40 bytes of
#                                memory per kB here); 0 skips it
#   BENCH_BUILD=build-bench      build directory
#   BENCH_DATA=bench/data        where the corpus is cached
#   BENCH_WORK=bench/data/run    where the count files go (a shared corpus
#                                folder wants one per user)
#   BENCH_BASELINE=path          another tallomer (an older build) to run
#                                after each tallomer case, for a before/after
#                                table from one run
set -euo pipefail
cd "$(dirname "$0")/.."

bytes=${BENCH_BYTES:-300000000}
referenceC8Bytes=${REFERENCE_C8_BYTES:-30000000}
build=${BENCH_BUILD:-build-bench}
baseline=${BENCH_BASELINE:-}
data=${BENCH_DATA:-bench/data}
# shellcheck source=bench/corpus.sh
source bench/corpus.sh
work=${BENCH_WORK:-$data/run}
mkdir -p "$work"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNGRAM_BENCH=ON -DNGRAM_TESTS=OFF \
  -DNGRAM_STATISTICS=ON >/dev/null
cmake --build "$build" -j2 >/dev/null
# A built program's path, wherever its CMakeLists puts it; empty if none.
program() { find "$build" -maxdepth 2 -type f -name "$1" -perm -u+x | head -1; }

makeCorpus "$(program generate_corpus)"

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')," \
  "$(awk '/MemTotal/ {printf "%.0f GB", $2 / 1048576}' /proc/meminfo)"
echo "Corpus: $corpus, $bytes bytes"
echo
printf '| %-28s | %9s | %8s | %8s | %12s | %12s | %6s | %12s | %6s |\n' case "input MB" seconds "MB/s" "peak RSS MB" \
  "temp disk MB" spills distinct ratio
printf '|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n' ------------------------------ ----------- ---------- ---------- \
  -------------- -------------- -------- -------------- --------

declare -A speed

# Count-file lines. No corpus text holds ';', so each entry has exactly one
# line ending in ";digits" CR, whatever LF bytes its text holds.
distinctIn() { LC_ALL=C grep -c $';[0-9]*\r$' "$1" || true; }

# measure NAME INPUT_BYTES OUTPUT COMMAND...: runs the command with standard
# input from /dev/null and prints its table line. An address-space limit in
# LIMIT_KB applies to the command alone.
measure() {
  local name=$1 inputBytes=$2 output=$3
  shift 3
  local timing=$work/timing
  [ -n "$output" ] && rm -f "$output"
  if ! (if [ -n "${LIMIT_KB:-}" ]; then ulimit -v "$LIMIT_KB"; fi
    exec /usr/bin/time -f '%e %M' -o "$timing" "$@" </dev/null >"$work/stdout" 2>"$work/stderr"); then
    printf '| %-28s | failed: %s\n' "$name" "$(grep -v '^Command' "$work/stderr" | tail -1)"
    return
  fi
  local seconds rssKb distinct=- tempMb=- spills=-
  read -r seconds rssKb < <(tail -1 "$timing")
  local statistics
  statistics=$(grep -m1 '^statistics: ' "$work/stderr" || true)
  if [ -n "$statistics" ]; then
    spills=$(sed -E 's/.*runs spilled ([0-9]+).*/\1/' <<<"$statistics")
    tempMb=$(awk -v b="$(sed -E 's/.*at peak ([0-9]+).*/\1/' <<<"$statistics")" 'BEGIN { printf "%.0f", b / 1048576 }')
  fi
  [ -n "$output" ] && [ -f "$output" ] && distinct=$(distinctIn "$output")
  local mbPerSecond
  mbPerSecond=$(awk -v b="$inputBytes" -v s="$seconds" 'BEGIN { if (s > 0) printf "%.1f", b / 1e6 / s; else print "-" }')
  speed[$name]=$mbPerSecond
  local ratio=-
  case $name in
    "reference "*)
      local counted=${name#reference }
      ratio=$(awk -v t="${speed[tallomer $counted]:--}" -v r="$mbPerSecond" \
        'BEGIN { if (t == "-" || r == "-") print "-"; else printf "%.1fx", t / r }')
      ;;
  esac
  printf '| %-28s | %9.1f | %8.2f | %8s | %12.0f | %12s | %6s | %12s | %6s |\n' "$name" \
    "$(awk -v b="$inputBytes" 'BEGIN { print b / 1e6 }')" "$seconds" "$mbPerSecond" \
    "$(awk -v k="$rssKb" 'BEGIN { print k / 1024 }')" "$tempMb" "$spills" "$distinct" "$ratio"
}

# The limited run writes its own count file, compared with c 19's below.
for case in "c 1" "c 3" "c 8" "c 19" "c 19 limited" "w 1" "w 2" "w 3"; do
  counts=$work/counts-${case// /}.txt
  arguments=${case% limited}
  limit=
  [ "$case" != "$arguments" ] && limit=3000000
  LIMIT_KB=$limit measure "tallomer $case" "$bytes" "$counts" "$(program tallomer)" $arguments "$corpus" "$counts"
  if [ -n "$baseline" ]; then
    LIMIT_KB=$limit measure "before $case" "$bytes" "$work/before.txt" "$baseline" $arguments "$corpus" \
      "$work/before.txt"
    rm -f "$work/before.txt"
  fi
  if [ "$case" = "c 19 limited" ]; then
    if [ -f "$counts" ] && cmp -s "$counts" "$work/counts-c19.txt"; then
      limitedCheck="same c 19 count file with and without ulimit -v 3000000"
    else
      limitedCheck="DIFFERENT (or missing) c 19 count file under ulimit -v 3000000"
    fi
    rm -f "$counts" "$work/counts-c19.txt"
  fi
done

measure "reference c 3" "$bytes" "$work/reference-c3.txt" \
  "$(program reference_counter)" c 3 "$corpus" "$work/reference-c3.txt"
if [ -f "$work/counts-c3.txt" ] && [ -f "$work/reference-c3.txt" ] &&
  cmp -s <(LC_ALL=C sort "$work/counts-c3.txt") <(LC_ALL=C sort "$work/reference-c3.txt"); then
  c3Check="same c 3 counts from tallomer and the reference counter"
else
  c3Check="DIFFERENT c 3 counts from tallomer and the reference counter"
fi
if [ "$referenceC8Bytes" -gt 0 ]; then
  c8Bytes=$((referenceC8Bytes < bytes ? referenceC8Bytes : bytes))
  measure "reference c 8" "$c8Bytes" "$work/reference-c8.txt" \
    "$(program reference_counter)" c 8 "$corpus" "$work/reference-c8.txt" "$c8Bytes"
fi

readerNotes=()
for counts in "$work/counts-c8.txt" "$work/counts-w3.txt"; do
  [ -f "$counts" ] || continue
  countBytes=$(stat -c %s "$counts")
  label=$(basename "$counts" .txt)
  label=${label#counts-}
  if [ -n "$(program entropy)" ]; then
    measure "entropy (${label})" "$countBytes" "" "$(program entropy)" "$counts"
  else
    readerNotes+=("entropy (${label}): not built yet, skipped")
  fi
  if [ -n "$(program distribution)" ]; then
    measure "distribution 10 (${label})" "$countBytes" "" \
      "$(program distribution)" 10 "$counts" "$work/histogram.txt"
  else
    readerNotes+=("distribution (${label}): not built yet, skipped")
  fi
done

# The word scan without the table: what word mode would reach with a table
# that cost nothing.
scanLines=()
for n in 1 2 3; do scanLines+=("$("$(program word_scan)" "$n" "$corpus")"); done

echo
echo "Check: $c3Check."
echo "Check: $limitedCheck."
echo "Ratio: tallomer's MB/s over the reference counter's on the same case" \
  "(the reference reads ${referenceC8Bytes} bytes at most for c 8)."
for note in "${readerNotes[@]}"; do echo "Note: $note."; done
for line in "${scanLines[@]}"; do echo "Scan alone: $line."; done
rm -f "$work"/counts-c1.txt "$work"/counts-c3.txt "$work"/counts-c19*.txt "$work"/counts-w1.txt \
  "$work"/counts-w2.txt "$work"/reference-*.txt "$work"/histogram.txt "$work"/stdout "$work"/stderr
