#!/usr/bin/env bash
# parallel-test.sh [BUILD]: parallel-count against one tallomer run per input:
# a list with CR LF line ends naming an input with tabs and spaces in its
# name and an equal copy of another (two inputs, summed); many small inputs
# counted by few part tasks, planned by one tallomer-part run and counted
# by one a task, a removed part redone alone; compressed inputs
# among plain ones, each one part; one part task
# failing on the first run and redone by the second; the files deciding what
# a rerun redoes; --min-count passed to the merges; inputs changed since
# planning refused by the part task and by a rerun; a run waiting for
# another's planning; two started at once; the part tasks pinned to their
# share of the CPUs.
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
# --min-count reaches every range's merge: the count file less the n-grams
# counted fewer times in all the inputs together; another threshold on the
# same work folder is refused, not joined to ranges merged with this one.
minCount() { "$here/../parallel-count" --min-count="$1" c 5 "$dir/min.txt" "$dir/inputs" 50000 3 >"$log" 2>&1; }
check "a run with --min-count completes" minCount 3
tr -d '\r' <"$dir/expected" | awk -F';' '$2 >= 3' | sed 's/$/\r/' >"$dir/expected-min"
check "the count file without the counts below 3" cmp "$dir/expected-min" "$dir/min.txt"
check "another --min-count is refused" fails minCount 4
check "as another plan" grep -q "min.txt.work: planned for other arguments" "$log"

# An input touched or grown (into as many parts) since planning: a rerun
# refuses it, naming it, whatever is done already.
grow() { echo >>"$1"; }
for change in touch grow; do
  $change "$odd"
  check "$change: a rerun refuses a changed input" fails count
  check "$change: names it" grep -q "b copy.*: changed since .* remove $work to start over" "$log"
done

# Many small inputs: a part task counts consecutive parts until about
# PARTBYTES are gathered, each into its own part file. 20 inputs of 4,000
# bytes, parts of 50,000: two tasks, of 12 parts and of 8. Planning asks
# tallomer-part twice whatever the inputs (MODE and N, then every input at
# once), and a task twice (its inputs, then its parts), as each call's
# first three arguments in calls tell.
mkdir "$dir/counted"
ln -s "$bin/tallomer-merge" "$dir/counted/tallomer-merge"
cat >"$dir/counted/tallomer-part" <<SCRIPT
#!/bin/sh
echo "\$1 \$2 \$3" >>"$dir/counted/calls"
exec "$bin/tallomer-part" "\$@"
SCRIPT
chmod +x "$dir/counted/tallomer-part"
export TALLOMER_BIN=$dir/counted
smallInputs "$dir/small" 80000
# A time before 1970 with a fraction, which the plan writes as stat does.
touch -d @-1.75 "$dir/small/03.txt"
printf '%s\n' "$dir"/small/*.txt >"$dir/inputs"
sumCounts "$dir"/small/*.counts >"$dir/expected"
work=$dir/small.txt.work
countSmall() { "$here/../parallel-count" c 5 "$dir/small.txt" "$dir/inputs" 50000 2 >"$log" 2>&1; }
check "many small inputs count" countSmall
check "their summed count file" cmp "$dir/expected" "$dir/small.txt"
check "20 parts in 2 part tasks" \
  test "$(find "$work/parts" -name '*.part' | wc -l) $(find "$work/logs" -name 'part-*.log' | wc -l)" = "20 2"
check "tallomer-part run twice to plan and twice a task" \
  test "$(sort "$dir/counted/calls" | uniq -c | sed 's/^ *//; s/ *$//' | paste -sd,)" = "1 c 5,5 c 5 @-"
check "the plan holds each input's size and time as stat tells them" \
  test "$(awk 'NR > 4 { print $4, $5 }' "$work/tasks.txt")" = "$(stat -L -c '%s %.9Y' "$dir"/small/*.txt)"
# A part removed: its task runs again and counts that part alone.
rm "$work/parts/5.part" "$work/ranges/1.txt" "$dir/small.txt"
check "a run after a part was removed completes" countSmall
lastAttempt() { tac "$work/logs/$1.log" | sed '/^== /q'; }
check "its task counts the removed part only" \
  test "$(lastAttempt part-0 | grep -c 'distinct n-grams') $(lastAttempt part-0 | grep -c 'done before')" = "1 11"
check "the removed part is the one counted" grep -q "parts/5.part: .* of $dir/small/05.txt" <(lastAttempt part-0)
check "the other task does not run again" test "$(attempts part-1)" = 1
check "the same count file, the part redone" cmp "$dir/expected" "$dir/small.txt"

# Compressed inputs among plain ones: each is one part, 0 to end, bigger
# than PARTBYTES or not, and its data is counted.
mkdir "$dir/mixed"
cp -p "$dir/b.txt" "$dir/mixed/plain.txt"
printf '%s\n' "$dir/small/00.txt" "$dir/mixed/plain.txt" >"$dir/inputs"
wholes=0
for tool in gzip zstd xz bzip2; do
  makeCorpus 150000 "$dir/mixed/$tool" $((40 + wholes))
  compressed "$tool" "$dir/mixed/$tool" >>"$dir/inputs" || continue
  "$bin/tallomer" c 5 "$dir/mixed/$tool" "$dir/mixed/$tool.counts" </dev/null >/dev/null
  wholes=$((wholes + 1))
done
echo "$dir/small/01.txt" >>"$dir/inputs"
sumCounts "$dir"/mixed/*.counts "$dir"/small/0[01].counts "$dir/b.counts" >"$dir/expected"
work=$dir/mixed.txt.work
countMixed() { "$here/../parallel-count" c 5 "$dir/mixed.txt" "$dir/inputs" 30000 3 >"$log" 2>&1; }
check "compressed and plain inputs count" countMixed
check "the count file of their data" cmp "$dir/expected" "$dir/mixed.txt"
check "each compressed input is one part, 0 to end" \
  test "$(awk 'NR > 4 && $2 == 0 && $3 == "end"' "$work/tasks.txt" | wc -l)" = "$wholes"
# Its stored size and time are in the plan: a rerun refuses it changed.
if [ -e "$dir/mixed/gzip.gz" ]; then
  touch "$dir/mixed/gzip.gz"
  check "a rerun refuses a changed compressed input" fails countMixed
  check "and names it" grep -q "gzip.gz: changed since .* remove $work to start over" "$log"
fi

# Planning takes turns: a run waits while another holds the lock.
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
