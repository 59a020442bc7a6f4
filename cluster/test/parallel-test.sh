#!/usr/bin/env bash
# parallel-test.sh [BUILD]: parallel-count against one tallomer run per input:
# a list with CR LF line ends naming an input with tabs and spaces in its
# name and an equal copy of another (two inputs, summed); one part task
# failing on the first run and redone by the second; the files deciding what
# a rerun redoes; inputs changed since planning refused by the part task and
# by a rerun; a run waiting for another's planning; two started at once; the
# part tasks pinned to their share of the CPUs.
#   BUILD: the folder of the built programs (default: build/)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:-$here/../../build}" && pwd)
# shellcheck source-path=SCRIPTDIR
source "$here/common.sh"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export TMPDIR=$dir

odd=$dir/$'\tb copy\t.txt\t'
makeCorpus 300000 "$dir/a-fail-me.txt" 1
makeCorpus 123457 "$dir/b.txt" 2
cp -p "$dir/b.txt" "$odd"
printf '%s\r\n' "$dir/a-fail-me.txt" "$odd" "$dir/b.txt" >"$dir/inputs"
for input in a-fail-me b; do "$bin/tallomer" c 5 "$dir/$input.txt" "$dir/$input.counts" </dev/null >/dev/null; done
sumCounts "$dir/a-fail-me.counts" "$dir/b.counts" "$dir/b.counts" >"$dir/expected"
failingBin "$bin" "$dir/bin"
export TALLOMER_BIN=$dir/bin
log=$dir/log
work=$dir/out.txt.work
count() { "$here/../parallel-count" c 5 "$dir/out.txt" "$dir/inputs" 50000 3 >"$log" 2>&1; }
attempts() { grep -c '^== ' "$work/logs/$1.log"; }

check "a failing part fails the run" fails count
check "the failure is the part's, named by its log" grep -q 'part-0.log: .*failing on purpose' "$log"
check "no count file after a failed part" test ! -e "$dir/out.txt"
# An input touched since planning: its part task refuses to count it.
touch -r "$dir/a-fail-me.txt" "$dir/times"
touch "$dir/a-fail-me.txt"
check "a part task refuses a changed input" fails "$here/../part-task" "$work" 0 >"$log" 2>&1
check "and names it" grep -q "a-fail-me.txt: changed since .* remove $work to start over" "$log"
touch -r "$dir/times" "$dir/a-fail-me.txt"
rm "$dir/bin/fail"
check "the second run completes" count
check "the second run redoes the failed part only" test "$(attempts part-0) $(attempts part-1)" = "2 1"
check "the same count file as tallomer" cmp "$dir/expected" "$dir/out.txt"
# The files decide: whatever output is missing is made again.
rm "$dir/out.txt" "$work/ranges/1.txt" "$work/parts/1.part"
check "a run after outputs were removed completes" count
check "it redoes the removed part" test "$(attempts part-1)" = 2
check "the same count file, outputs redone" cmp "$dir/expected" "$dir/out.txt"
check "a run that is done again changes nothing" count
check "the same count file, run again" cmp "$dir/expected" "$dir/out.txt"
# An input touched or grown (into as many parts) since planning: a rerun
# refuses it, naming it, whatever is done already.
grow() { echo >>"$1"; }
for change in touch grow; do
  $change "$odd"
  check "$change: a rerun refuses a changed input" fails count
  check "$change: names it" grep -q "b copy.*: changed since .* remove $work to start over" "$log"
done

# Planning takes turns: a run waits while another holds the lock.
export TALLOMER_BIN=$bin
echo "$dir/b.txt" >"$dir/inputs"
mkdir "$dir/locked.txt.work"
flock "$dir/locked.txt.work/lock" sh -c "touch '$dir/held'; while [ -e '$dir/held' ]; do sleep 0.1; done" &
while [ ! -e "$dir/held" ]; do sleep 0.1; done
"$here/../parallel-count" c 3 "$dir/locked.txt" "$dir/inputs" 50000 2 >"$log" 2>&1 &
sleep 1
check "a run does not plan while another plans" test ! -e "$dir/locked.txt.work/tasks.txt"
rm "$dir/held"
check "it plans and completes when the other is done" wait $!
# Two runs started at once on one OUTPUT: the first to plan sets MODE and N,
# the other is refused.
for n in 3 4; do "$bin/tallomer" c $n "$dir/b.txt" "$dir/b-$n.counts" </dev/null >/dev/null; done
for n in 3 4; do
  "$here/../parallel-count" c $n "$dir/race.txt" "$dir/inputs" 50000 2 >"$dir/race-$n.log" 2>&1 &
done
wait
n=$(sed -n 2p "$dir/race.txt.work/tasks.txt")
check "the count file of the plan's N" cmp "$dir/b-$n.counts" "$dir/race.txt"
log=$dir/race-$n.log
check "the run with the plan's N completes" grep -q "race.txt: complete" "$log"
log=$dir/race-$((7 - n)).log
check "the other is refused" grep -q "race.txt.work: planned for other arguments" "$log"

# Tasks side by side share the CPUs: each part task runs pinned to its
# slot's share (3 parts: 3 slots at most, one CPU each on up to 3 CPUs).
mkdir "$dir/pinned"
ln -s "$bin/tallomer-merge" "$dir/pinned/tallomer-merge"
cat >"$dir/pinned/tallomer-part" <<SCRIPT
#!/bin/sh
awk '\$1 == "Cpus_allowed_list:" { print \$2 }' /proc/self/status >"$dir/pinned/cpus-\$4"
exec "$bin/tallomer-part" "\$@"
SCRIPT
chmod +x "$dir/pinned/tallomer-part"
log=$dir/log
TALLOMER_BIN=$dir/pinned check "a pinned run completes" \
  "$here/../parallel-count" c 3 "$dir/pinned.txt" "$dir/inputs" 50000 2 >"$log" 2>&1
check "the same count file pinned" cmp "$dir/b-3.counts" "$dir/pinned.txt"
cpus=$(nproc) jobs=$(($(nproc) < 3 ? $(nproc) : 3))
for part in 0 50000 100000; do
  share=$(tr ',' '\n' <"$dir/pinned/cpus-$part" | awk -F- '{ n += NF == 2 ? $2 - $1 + 1 : 1 } END { print n }')
  check "part $part: $share CPUs of $cpus for $jobs tasks" \
    test "$share" -ge $((cpus / jobs)) -a "$share" -le $(((cpus + jobs - 1) / jobs))
done
echo "parallel-test: passed"
