#!/usr/bin/env bash
# plan-test.sh [BUILD]: what the workflow refuses before it plans or submits
# anything (the checks slurm-count and parallel-count share), run through
# parallel-count: each case must exit with its code and message, quickly,
# leaving no work folder and no output behind.
#   BUILD: the folder of the built programs (default: build/)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:-$here/../../build}" && pwd)
# shellcheck source-path=SCRIPTDIR
source "$here/common.sh"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export TMPDIR=$dir TALLOMER_BIN=$bin
cd "$dir"

makeCorpus 20000 a.txt 1
cp a.txt b.txt
ln -s a.txt link.txt
truncate -s 200000000 huge.txt
mkdir outdir
echo a.txt >list
printf 'a.txt\r\nb.txt\r\nlink.txt\r\n' >linked
printf 'b.txt\na.txt\n%s/./a.txt\n' "$dir" >respelled
printf 'a.txt\nnone.txt\n' >missing
printf '\n\r\n' >blank
cp a.txt plain.gz
printf 'a.txt\nplain.gz\n' >lying
echo huge.txt >hugelist
mkfifo fifo
mkdir adir
printf 'a.txt\nfifo\n' >fifolist
printf 'adir\na.txt\n' >dirlist
log=$dir/log

# refused CODE MESSAGE ARG...: parallel-count ARG... exits with CODE and
# MESSAGE (a grep pattern) on standard error, planning nothing.
refused() {
  local code=$1 message=$2 status=0
  shift 2
  timeout 60 "$here/../parallel-count" "$@" >"$log" 2>&1 || status=$?
  check "$*: exit code $code, not $status" test "$status" -eq "$code"
  check "$*: says $message" grep -q -- "$message" "$log"
  check "$*: plans and writes nothing" test -z "$(find . -name '*.work' -o -name '*.tmp-*' -o -name 'out*.txt')"
}

# MODE and N as tallomer-part judges them; every number bounded before bash
# arithmetic (which wraps at 2^63) sees it.
refused 1 'mode "x"' x 3 out.txt list 1000 2
refused 1 'N "20" must be a whole number from 1 to 19' c 20 out.txt list 1000 2
refused 1 'N "100000000"' w 100000000 out.txt list 100000000 2
refused 1 'N "99999999999999999999" must be' c 99999999999999999999 out.txt list 1000 2
refused 1 'N "3x"' c 3x out.txt list 1000 2
refused 1 'PARTBYTES "9223372036854775808"' c 3 out.txt list 9223372036854775808 2
refused 1 'PARTBYTES "010"' c 3 out.txt list 010 2
refused 1 'PARTBYTES "150000000" must be a multiple of 100000000' w 2 out.txt list 150000000 2
refused 1 'RANGES "0"' c 3 out.txt list 1000 0
refused 1 'RANGES "99999999999999999999"' c 3 out.txt list 1000 99999999999999999999
refused 1 '--min-count "0" must be a whole number from 1 to 9223372036854775807' --min-count=0 c 3 out.txt list 1000 2
refused 1 '--min-count "9223372036854775808"' --min-count=9223372036854775808 c 3 out.txt list 1000 2
refused 1 '--min-count "9999999999999999999"' --min-count=9999999999999999999 c 3 out.txt list 1000 2
refused 1 'usage: parallel-count \[--min-count=C\]' --min-cuont=2 c 3 out.txt list 1000 2
refused 2 'more than 100000 parts' c 3 out.txt hugelist 1000 2
# OUTPUT as tallomer would refuse it, and one the plan cannot hold.
refused 2 'outdir: is a directory' c 3 outdir list 1000 2
refused 2 'nowhere/out.txt: no folder' c 3 nowhere/out.txt list 1000 2
refused 2 'must not hold a line end' c 3 $'out\n.txt' list 1000 2
# The input list: one file twice, however spelled, is refused naming both
# lines; two files with the same bytes are not.
refused 2 'linked: lines 1 and 3 name the same file (a.txt and link.txt)' c 3 out.txt linked 1000 2
refused 2 "respelled: lines 2 and 3 name the same file (a.txt and $dir/./a.txt)" c 3 out.txt respelled 1000 2
refused 2 'none.txt: not a file (line 2 of missing)' c 3 out.txt missing 1000 2
refused 2 'fifo: not a file (line 2 of fifolist)' c 3 out.txt fifolist 1000 2
refused 2 'adir: not a file (line 1 of dirlist)' c 3 out.txt dirlist 1000 2
refused 2 'blank: names no input' c 3 out.txt blank 1000 2
# A name that promises a compression its bytes do not hold, as
# tallomer-part says it.
refused 2 "$dir/plain.gz: its name says gzip.* (line 2 of lying)" c 3 out.txt lying 1000 2
refused 2 'nolist: cannot read' c 3 out.txt nolist 1000 2
echo "plan-test: passed"
