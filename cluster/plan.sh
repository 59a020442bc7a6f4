# Sourced by slurm-count and parallel-count: the command line, the programs
# and the plan of the work folder, so both engines run the very same tasks.
# shellcheck shell=bash

# The word-mode chunk of tallomer: word-mode parts must be cut at multiples of
# it, or words at a cut would be lost or split.
readonly CHUNK_BYTES=100000000

usage() {
  cat <<EOF
usage: $(basename "$0") MODE N OUTPUT INPUTLIST PARTBYTES RANGES $1
  MODE N     as tallomer (c or w, the n-gram length)
  OUTPUT     the count file, written when every task is done
  INPUTLIST  a file naming the input files, one path a line
  PARTBYTES  bytes of input per part task (word mode: a multiple of $CHUNK_BYTES)
  RANGES     the number of merge tasks, each writing one key range of OUTPUT
The work (parts, ranges, logs) goes to OUTPUT.work/; run the same command
again after a failure to redo only what failed.
EOF
}

fail() {
  echo "$(basename "$0"): $1" >&2
  exit 2
}

# findPrograms: TALLOMER_BIN as an absolute folder, exported so that the tasks
# find the same programs wherever the engine starts them (sbatch runs a copy
# of the script, not the one beside this file).
findPrograms() {
  local here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  if [ -z "${TALLOMER_BIN:-}" ]; then
    if [ -x "$here/../build/tallomer-part" ]; then
      TALLOMER_BIN=$here/../build
    elif command -v tallomer-part >/dev/null; then
      TALLOMER_BIN=$(dirname "$(command -v tallomer-part)")
    else
      fail "no tallomer-part in $here/../build or on PATH: set TALLOMER_BIN"
    fi
  fi
  TALLOMER_BIN=$(cd "$TALLOMER_BIN" && pwd)
  export TALLOMER_BIN
  # shellcheck disable=SC2034 # the folder of the task scripts, for the callers
  CLUSTER_DIR=$here
}

# parseCounting MODE N OUTPUT INPUTLIST PARTBYTES RANGES: checks what can be
# checked before anything is submitted; the programs check MODE and N.
parseCounting() {
  [[ $1 == [cw]* ]] || fail "$1: MODE must be c or w"
  [[ $2 =~ ^[1-9][0-9]*$ ]] || fail "$2: N must be a positive number"
  [[ $5 =~ ^[1-9][0-9]*$ ]] || fail "$5: PARTBYTES must be a positive number"
  [[ $6 =~ ^[1-9][0-9]*$ ]] || fail "$6: RANGES must be a positive number"
  if [[ $1 == w* ]] && (($5 % CHUNK_BYTES != 0)); then
    fail "$5: in word mode PARTBYTES must be a multiple of $CHUNK_BYTES (words are scanned chunk by chunk)"
  fi
  [ -r "$4" ] || fail "$4: cannot read the input list"
  MODE=$1 N=$2 PARTBYTES=$5 RANGES=$6
  OUTPUT=$(realpath -m "$3")
  INPUTLIST=$4
  WORK=$OUTPUT.work
}

# planParts: one part a line: FROM, TO, INPUT (tab-separated). The last
# part of an input ends at `end`, its size at the time the part is counted.
planParts() {
  local input size from
  while IFS= read -r input || [ -n "$input" ]; do
    [ -n "$input" ] || continue
    [ -f "$input" ] || fail "$input: not a file (named in $INPUTLIST)"
    input=$(realpath "$input")
    size=$(stat -c %s "$input")
    for ((from = 0; from + PARTBYTES < size; from += PARTBYTES)); do
      printf '%s\t%s\t%s\n' "$from" $((from + PARTBYTES)) "$input"
    done
    printf '%s\t%s\t%s\n' "$from" end "$input"
  done <"$INPUTLIST"
}

# planWork: writes WORK/tasks.txt (MODE, N, RANGES, OUTPUT, then the parts:
# part i is line 5 + i and writes parts/i.part), or checks that the plan
# already there is this one, so that a resubmission reuses the parts and never
# mixes parts of another plan into a merge.
planWork() {
  local plan
  plan=$(printf '%s\n%s\n%s\n%s\n' "$MODE" "$N" "$RANGES" "$OUTPUT" && planParts)
  [ "$(wc -l <<<"$plan")" -gt 4 ] || fail "$INPUTLIST: names no input"
  mkdir -p "$WORK"/{parts,ranges,logs}
  if [ -e "$WORK/tasks.txt" ]; then
    [ "$plan" = "$(cat "$WORK/tasks.txt")" ] ||
      fail "$WORK: planned for other arguments or inputs (remove it to start over)"
  else
    printf '%s\n' "$plan" >"$WORK/tasks.tmp"
    mv "$WORK/tasks.tmp" "$WORK/tasks.txt"
  fi
  PARTS=$(($(wc -l <"$WORK/tasks.txt") - 4))
  # The merges' @FILE: the same list whichever engine runs them.
  for ((i = 0; i < PARTS; i++)); do printf '%s/parts/%s.part\n' "$WORK" "$i"; done >"$WORK/parts.tmp"
  mv "$WORK/parts.tmp" "$WORK/parts.txt"
}
