# Sourced by the cluster tests: the corpus, the reference counts, a part task
# made to fail, and checks that stop the test with a message.
# shellcheck shell=bash

# check WHAT COMMAND...: runs COMMAND, stops the test when it fails, with the
# console of the last run under test (the file $log) to say why.
check() {
  local what=$1
  shift
  "$@" && return
  echo "FAIL: $what" >&2
  cat "${log:-/dev/null}" >&2
  exit 1
}

fails() { ! "$@"; }

# makeCorpus BYTES OUT SEED: words and the five separators, no line ends and
# no `;`, so that count files can be summed line by line (sumCounts); blocks
# of 1 MB put together in a seeded order, so that 200 MB take a second.
makeCorpus() {
  local bytes=$1 out=$2 seed=$3 block i
  block=$(mktemp -d)
  for i in 0 1 2 3 4 5 6; do
    awk -v seed=$((seed * 7 + i)) -v bytes=$((bytes < 1000000 ? bytes : 1000000)) 'BEGIN {
      srand(seed)
      n = split("the of and a to in is was he that it for on with as his at by from cat dog ab x yy zzz antidisestablishmentarian", w, " ")
      split(" |, |. |!|?|  ", s, "|")
      while (total < bytes) { t = substr(w[int(rand() * n) + 1] s[int(rand() * 6) + 1], 1, bytes - total); printf "%s", t; total += length(t) }
    }' >"$block/$i"
  done
  for ((i = 0; i < bytes / 1000000; i++)); do cat "$block/$(((i * 5 + seed) % 7))"; done >"$out"
  head -c $((bytes % 1000000)) "$block/$((seed % 7))" >>"$out"
  rm -r "$block"
}

# smallInputs FOLDER BYTES: a corpus of BYTES cut into inputs of 4,000
# bytes in FOLDER, each with its tallomer c 5 counts beside it (as
# NAME.counts), by the programs in $bin.
# shellcheck disable=SC2154 # bin is the sourcing test's
smallInputs() {
  mkdir "$1"
  makeCorpus "$2" "$1.corpus" 5
  split -b 4000 -d --additional-suffix=.txt "$1.corpus" "$1/"
  local input
  for input in "$1"/*.txt; do
    "$bin/tallomer" c 5 "$input" "${input%.txt}.counts" </dev/null >/dev/null
  done
}

# sumCounts COUNTFILE...: the count file of all the inputs together, from
# their own count files (texts without LF or `;`, as makeCorpus makes them).
sumCounts() {
  cat "$@" | tr -d '\r' | awk -F';' '{ c[$1] += $2 } END { for (t in c) print t ";" c[t] }' |
    LC_ALL=C sort -t';' -k1,1 | sed 's/$/\r/'
}

# failingBin BIN DIR: DIR holds the programs of BIN, but its tallomer-part
# fails on the part that starts at byte 0 of an input named *fail-me* while
# DIR/fail exists: a task that fails once, as on a node that dies.
failingBin() {
  mkdir -p "$2"
  ln -s "$1/tallomer-merge" "$2/tallomer-merge"
  cat >"$2/tallomer-part" <<SCRIPT
#!/bin/sh
if [ -e "$2/fail" ] && [ "\$4" = 0 ]; then
  case \$3 in *fail-me*) echo "tallomer-part: \$3: failing on purpose" >&2; exit 2 ;; esac
fi
exec "$1/tallomer-part" "\$@"
SCRIPT
  chmod +x "$2/tallomer-part"
  touch "$2/fail"
}

# compressed TOOL FILE: FILE compressed by TOOL (gzip, zstd, xz or bzip2)
# beside it under the tool's suffix, the copy's name printed; where TOOL is
# not installed, a note that its format is not tried, and status 1.
compressed() {
  local -A suffix=([gzip]=gz [zstd]=zst [xz]=xz [bzip2]=bz2)
  if ! command -v "$1" >/dev/null; then
    echo "note: no $1 here: its format is not tried" >&2
    return 1
  fi
  "$1" -q -k -f "$2" && echo "$2.${suffix[$1]}"
}
