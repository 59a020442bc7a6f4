#!/usr/bin/env bash
# slurm-test.sh [BUILD]: slurm-count under a throwaway single-node Slurm (its
# own munge key and socket, private ports, everything in one temporary
# folder), against tallomer runs: a character-mode run whose first part fails
# (its dependants must end CANCELLED, not pending for ever) and then is
# resubmitted with two CPUs a task, its logs appended to, --min-count=1
# passed to the merges; wrong numbers of CPUs refused, and what sbatch would
# refuse, refused before submitting anything; a refused submission
# cancelling those before it; a word-mode run over an input of a bit more
# than two chunks; and small inputs and a compressed one counted by few part
# tasks.
#   BUILD: the folder of the built programs (default: build/)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:-$here/../../build}" && pwd)
# shellcheck source-path=SCRIPTDIR
source "$here/common.sh"
dir=$(mktemp -d)
export TMPDIR=$dir/tmp

# stopDaemons: those this test started, by their pid files, also when it
# fails; a system munge or Slurm is not touched.
stopDaemons() {
  local name pid
  for name in slurmd slurmctld munged; do
    pid=$(cat "$dir/run/$name.pid" 2>/dev/null) || continue
    kill "$pid" 2>/dev/null || continue
    while kill -0 "$pid" 2>/dev/null; do sleep 0.2; done
  done
  rm -rf "$dir"
}
trap stopDaemons EXIT

startSlurm() {
  local node cpus mem
  node=$(hostname -s)
  read -r cpus mem < <(slurmd -C | tr ' ' '\n' | awk -F= '$1 == "CPUs" { c = $2 } $1 == "RealMemory" { m = $2 } END { print c, m }')
  mkdir -p "$dir"/{etc,munge,run,log,state,spool,tmp}
  # munged wants its key private and the socket folder (and all above it)
  # writable by itself only.
  chmod 0700 "$dir/munge"
  chmod 0755 "$dir" "$dir/run"
  head -c 1024 /dev/urandom >"$dir/munge/munge.key"
  chmod 0400 "$dir/munge/munge.key"
  munged --key-file="$dir/munge/munge.key" --socket="$dir/run/munge.socket" \
    --pid-file="$dir/run/munged.pid" --log-file="$dir/log/munged.log" --seed-file="$dir/munge/munged.seed"
  cat >"$dir/etc/slurm.conf" <<CONF
ClusterName=local
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=16817
SlurmdPort=16818
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/run/munge.socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/run/slurmctld.pid
SlurmdPidFile=$dir/run/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
# No cgroups in a container: --mem is bookkeeping here.
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SwitchType=switch/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
SchedulerType=sched/backfill
# Without it array tasks start in batches 3 s apart.
SchedulerParameters=batch_sched_delay=0
ReturnToService=2
MailProg=/bin/true
SlurmdTimeout=30
InactiveLimit=0
MinJobAge=300
KillWait=5
NodeName=$node NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$mem State=UNKNOWN
PartitionName=local Nodes=ALL Default=YES MaxTime=INFINITE State=UP DefMemPerCPU=$((mem / cpus / 4))
CONF
  export SLURM_CONF=$dir/etc/slurm.conf
  slurmctld -f "$SLURM_CONF"
  slurmd -f "$SLURM_CONF"
  for ((i = 0; i < 150; i++)); do
    [ "$(sinfo -h -o %t 2>/dev/null)" = idle ] && return
    sleep 0.2
  done
  echo "FAIL: the Slurm node did not become idle" >&2
  cat "$dir"/log/*.log >&2
  exit 1
}

startSlurm
makeCorpus 300000 "$dir/a-fail-me.txt" 1
makeCorpus 123457 "$dir/b.txt" 2
printf '%s\n' "$dir/a-fail-me.txt" "$dir/b.txt" >"$dir/inputs"
for input in a-fail-me b; do "$bin/tallomer" c 5 "$dir/$input.txt" "$dir/$input.counts" </dev/null >/dev/null; done
sumCounts "$dir/a-fail-me.counts" "$dir/b.counts" >"$dir/expected"
failingBin "$bin" "$dir/bin"
log=$dir/log/count.log
# A % in OUTPUT, which sbatch's log names would read as a pattern.
out="$dir/out %j.txt"
count() {
  TALLOMER_BIN=$dir/bin "$here/../slurm-count" --wait --part-mem=200M --merge-mem=200M --min-count=1 "$@" \
    c 5 "$out" "$dir/inputs" 100000 2 >"$log" 2>&1
}
# states NAME: the states of that job's tasks, one a line, sorted, unique.
states() { awk -v name="$1" '$1 == name { print $3 }' "$log" | sort -u | paste -sd' '; }

check "a failing part fails the run" fails count
check "the other parts complete, the failing one fails" test "$(states tallomer-part)" = "COMPLETED FAILED"
check "the merges are cancelled, not pending" test "$(states tallomer-merge)" = CANCELLED
check "the concatenation is cancelled, not pending" test "$(states tallomer-concat)" = CANCELLED
check "no count file after a failed part" test ! -e "$out"
rm "$dir/bin/fail"
# The resubmission asks for two CPUs a task: sbatch gives them.
check "the resubmission completes" count --part-cpus=2 --merge-cpus=2
# cpus JOB: the CPUs of each of the job's tasks, one a line, unique.
cpus() { scontrol -o show job "$1" | grep -o 'NumCPUs=[0-9]*' | sort -u | paste -sd' '; }
jobOf() { sed -n "s/.*$1: job \([0-9]*\).*/\1/p" "$log"; }
check "the part tasks had two CPUs each" test "$(cpus "$(jobOf parts)")" = NumCPUs=2
check "the merge tasks had two CPUs each" test "$(cpus "$(jobOf ranges)")" = NumCPUs=2
check "the concatenation had one" test "$(cpus "$(jobOf concatenation)")" = NumCPUs=1
check "the same count file as tallomer" cmp "$dir/expected" "$out"
check "--min-count reached the merges" grep -q 'left out below 1: 0 distinct n-grams, 0 in all' "$out.work/logs/range-2.log"
# Each attempt appends to the task's log: the failure stays readable.
check "the failed part's log keeps its failure" grep -q 'failing on purpose' "$out.work/logs/part-0.log"
check "a log per task, a line per attempt" \
  test "$(grep -c '^== part task 1: .*Slurm job' "$out.work/logs/part-1.log")" = 2

# What sbatch would refuse is refused before anything is submitted.
jobs() { squeue -h -t all -r -o %i | wc -l; }
# refused CODE MESSAGE ARG...: slurm-count ARG... exits with CODE and MESSAGE,
# submitting and planning nothing.
refused() {
  local code=$1 message=$2 before status=0
  shift 2
  before=$(jobs)
  TALLOMER_BIN=$bin "$here/../slurm-count" "$@" >"$log" 2>&1 || status=$?
  check "$message: exit code $code, not $status" test "$status" = "$code"
  check "$message: said so" grep -q -- "$message" "$log"
  check "$message: nothing submitted" test "$(jobs)" = "$before"
  check "$message: nothing planned" test ! -e "$out.work"
}
maxArray=$(scontrol show config | awk '$1 == "MaxArraySize" { print $3 }')
rm -r "$out" "$out.work"
refused 1 "$maxArray ranges: more than" c 5 "$out" "$dir/inputs" 100000 "$maxArray"
refused 1 "part tasks: more than" c 5 "$out" "$dir/inputs" $((423457 / maxArray)) 2
refused 2 "--merge-mem=x --merge-cpus=1: sbatch refuses the merge jobs" --merge-mem=x c 5 "$out" "$dir/inputs" 100000 2
refused 2 "--part-mem=9P --part-cpus=1: sbatch refuses the part jobs" --part-mem=9P c 5 "$out" "$dir/inputs" 100000 2
refused 2 "--part-cpus=999: sbatch refuses the part jobs" --part-cpus=999 c 5 "$out" "$dir/inputs" 100000 2
refused 1 '--merge-cpus "0" must be a whole number' --merge-cpus=0 c 5 "$out" "$dir/inputs" 100000 2
refused 1 '--part-cpus "two" must be a whole number' --part-cpus=two c 5 "$out" "$dir/inputs" 100000 2
# A submission refused after others: those are cancelled.
mkdir "$dir/sbatch"
cat >"$dir/sbatch/sbatch" <<SCRIPT
#!/bin/sh
case "\$*" in
*--test-only*) ;;
*tallomer-concat*) echo "sbatch: error: refusing on purpose" >&2; exit 1 ;;
*tallomer-merge*) $(command -v sbatch) "\$@" | tee "$dir/merges"; exit ;;
esac
exec $(command -v sbatch) "\$@"
SCRIPT
chmod +x "$dir/sbatch/sbatch"
PATH="$dir/sbatch:$PATH" check "a refused concatenation fails the run" fails count
check "and says the jobs before it were cancelled" grep -q 'refusing on purpose; cancelled the jobs' "$log"
merges=$(cut -d';' -f1 "$dir/merges")
check "the merges are cancelled" test "$(scontrol -o show job "$merges" | grep -o 'JobState=[A-Z]*' | sort -u)" = JobState=CANCELLED

# Word mode: parts cut at the chunk multiples, the last one short.
makeCorpus 210000000 "$dir/words.txt" 3
echo "$dir/words.txt" >"$dir/inputs"
"$bin/tallomer" w 2 "$dir/words.txt" "$dir/expected" </dev/null >/dev/null
countWords() {
  TALLOMER_BIN=$bin "$here/../slurm-count" --wait --part-mem=1G \
    w 2 "$dir/words.txt.counts" "$dir/inputs" 100000000 2 >"$log" 2>&1
}
check "a word-mode run completes" countWords
check "the same word counts as tallomer" cmp "$dir/expected" "$dir/words.txt.counts"

# Twelve inputs of 4,000 bytes and a compressed one in parts of 30,000: an
# array of three part tasks, of 7 parts, 5 and the compressed input alone.
smallInputs "$dir/small" 48000
{ printf '%s\n' "$dir"/small/*.txt && compressed gzip "$dir/b.txt"; } >"$dir/inputs"
sumCounts "$dir"/small/*.counts "$dir/b.counts" >"$dir/expected"
countSmall() {
  TALLOMER_BIN=$bin "$here/../slurm-count" --wait --part-mem=200M --merge-mem=200M \
    c 5 "$dir/small.counts" "$dir/inputs" 30000 2 >"$log" 2>&1
}
check "small and compressed inputs count" countSmall
check "in three part tasks" test "$(awk '$1 == "tallomer-part"' "$log" | wc -l)" = 3
check "the count file of their data" cmp "$dir/expected" "$dir/small.counts"
echo "slurm-test: passed"
