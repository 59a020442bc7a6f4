# Sourced by slurm-count and parallel-count: the command line, the programs
# and the plan of the work folder, so both engines run the very same tasks.
# shellcheck shell=bash

# More parts than this is a PARTBYTES typed too small: planning and every
# task's look-up in the plan would take longer than the counting.
readonly MAX_PARTS=100000

usage() {
  cat <<EOF
usage: $(basename "$0") $1MODE N OUTPUT INPUTLIST PARTBYTES RANGES
  MODE N     as tallomer (c or w, the n-gram length)
  OUTPUT     the count file, written when every task is done
  INPUTLIST  a file naming the input files, one path a line
  PARTBYTES  bytes of input per part task (in word mode a multiple of the
             chunk that \`tallomer-part w N\` prints): a plain input is
             cut into parts of PARTBYTES, a compressed one is one part, and
             a task counts consecutive small parts up to PARTBYTES
  RANGES     the number of merge tasks, each writing one key range of OUTPUT
${2:-}The work (parts, ranges, logs) goes to OUTPUT.work/; run the same command
again after a failure to redo only what failed.
EOF
}

# fail MESSAGE: a failure, exit code 2. refuse MESSAGE: a wrong command line,
# exit code 1.
fail() {
  echo "$(basename "$0"): $1" >&2
  exit 2
}
refuse() {
  echo "$(basename "$0"): $1" >&2
  exit 1
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

# wholeNumber NAME VALUE MAX: VALUE must be decimal digits without a leading
# 0 and at most MAX (of 18 digits at most), checked as text first: bash
# arithmetic wraps at 2^63 and reads a leading 0 as octal.
wholeNumber() {
  if ! [[ $2 =~ ^[1-9][0-9]*$ ]] || [ ${#2} -gt ${#3} ] || (($2 > $3)); then
    refuse "$1 \"$2\" must be a whole number from 1 to $3"
  fi
}

# parseCounting MODE N OUTPUT INPUTLIST PARTBYTES RANGES: checks all that can
# be checked before anything is planned or submitted. tallomer-part itself
# judges MODE and N and says what multiple parts are cut at.
parseCounting() {
  [[ $1 != *[[:cntrl:]]* ]] || refuse "MODE must be one line"
  wholeNumber N "$2" 999999999
  wholeNumber PARTBYTES "$5" 999999999999999999
  wholeNumber RANGES "$6" 1000000
  local said multiple
  if said=$("$TALLOMER_BIN/tallomer-part" "$1" "$2" 2>&1 </dev/null); then
    multiple=$said
    [[ $multiple =~ ^[1-9][0-9]{0,17}$ ]] ||
      fail "$TALLOMER_BIN/tallomer-part: printed \"$said\" for MODE N, not a byte multiple"
  elif [ $? -eq 1 ]; then
    refuse "${said#tallomer-part: }"
  else
    fail "$TALLOMER_BIN/tallomer-part: cannot check MODE and N: $said"
  fi
  (($5 % multiple == 0)) ||
    refuse "PARTBYTES \"$5\" must be a multiple of $multiple in this mode (tallomer-part cuts parts there)"
  MODE=$1 N=$2 PARTBYTES=$5 RANGES=$6 INPUTLIST=$4

  # The plan holds OUTPUT on a line of its own.
  [[ $3 != *$'\n'* ]] || fail "$3: OUTPUT must not hold a line end"
  [ ! -d "$3" ] || fail "$3: is a directory"
  OUTPUT=$(realpath -m -- "$3")
  local folder
  folder=$(dirname "$OUTPUT")
  [ -d "$folder" ] || fail "$3: no folder $folder to write it in"
  [ -w "$folder" ] || fail "$3: cannot write in $folder"
  WORK=$OUTPUT.work
  [ ! -e "$WORK" ] || [ -d "$WORK" ] || fail "$WORK: not a folder (the work folder of $3)"
  [ ! -d "$INPUTLIST" ] || fail "$INPUTLIST: is a directory"
  [ -r "$INPUTLIST" ] || fail "$INPUTLIST: cannot read the input list"
}

# readInputs: the inputs that INPUTLIST names, one a line (a CR before the LF
# dropped, blank lines skipped), into INPUT_PATHS (resolved), INPUT_STATES
# (size and modification time in nanoseconds) and INPUT_WHOLE (yes for an
# input that `tallomer-part MODE N INPUT` says is counted whole: a compressed
# one), and PARTS; then the plan, into PLAN and TASKS. One file named twice,
# however spelled, is refused: its parts would overlap in every merge.
readInputs() {
  local line number=0 identity path state size said
  local -A lineOf nameOf
  INPUT_PATHS=() INPUT_STATES=() INPUT_WHOLE=() PARTS=0
  while IFS= read -r line || [ -n "$line" ]; do
    number=$((number + 1))
    line=${line%$'\r'}
    [ -n "$line" ] || continue
    [ -f "$line" ] || fail "$line: not a file (line $number of $INPUTLIST)"
    [ -r "$line" ] || fail "$line: cannot read it (line $number of $INPUTLIST)"
    read -r identity state < <(stat -L -c '%d:%i %s %.9Y' -- "$line") ||
      fail "$line: cannot stat it (line $number of $INPUTLIST)"
    if [ -n "${lineOf[$identity]:-}" ]; then
      fail "$INPUTLIST: lines ${lineOf[$identity]} and $number name the same file (${nameOf[$identity]} and $line)"
    fi
    lineOf[$identity]=$number nameOf[$identity]=$line
    path=$(realpath -- "$line")
    # Asked of the path the part tasks count (never "-", standard input).
    said=$("$TALLOMER_BIN/tallomer-part" "$MODE" "$N" "$path" 2>&1 </dev/null) ||
      fail "${said#tallomer-part: } (line $number of $INPUTLIST)"
    [[ $said =~ ^(whole|[1-9][0-9]{0,17})$ ]] ||
      fail "$TALLOMER_BIN/tallomer-part: printed \"$said\" for $path, neither whole nor a byte multiple"
    INPUT_PATHS+=("$path") INPUT_STATES+=("$state")
    size=${state%% *}
    if [ "$said" = whole ]; then
      INPUT_WHOLE+=(yes)
      PARTS=$((PARTS + 1))
    else
      INPUT_WHOLE+=(no)
      PARTS=$((PARTS + (size == 0 ? 1 : (size - 1) / PARTBYTES + 1)))
    fi
    ((PARTS <= MAX_PARTS)) ||
      fail "$INPUTLIST: more than $MAX_PARTS parts of $PARTBYTES bytes: choose a larger PARTBYTES"
  done <"$INPUTLIST"
  [ "$PARTS" -gt 0 ] || fail "$INPUTLIST: names no input"
  PLAN=$(planText)
  # shellcheck disable=SC2034 # the number of part tasks, for the callers
  TASKS=$(($(tail -n 1 <<<"$PLAN" | cut -d ' ' -f 1) + 1))
}

# planPart FROM TO BYTES: the line of a part of planText's input i, BYTES
# of it stored, in the task being gathered, or in the next one when BYTES
# would take that past PARTBYTES.
planPart() {
  if ((gathered > 0 && gathered + $3 > PARTBYTES)); then
    task=$((task + 1)) gathered=0
  fi
  gathered=$((gathered + $3))
  printf '%s %s %s %s %s\n' "$task" "$1" "$2" "${INPUT_STATES[i]}" "${INPUT_PATHS[i]}"
}

# planText: the plan, WORK/tasks.txt: MODE, N, RANGES and OUTPUT, then part
# i on line 5 + i: TASK FROM TO SIZE MTIME INPUT, the input last and whole
# (it may hold spaces and tabs); SIZE and MTIME are the input's when
# planned. A plain input is cut every PARTBYTES; one counted whole is one
# part, 0 to end, whatever its size. A part task counts consecutive parts
# until they hold about PARTBYTES of stored bytes together, so that many
# small inputs make few tasks, while a part of PARTBYTES is a task alone.
planText() {
  local i from size task=0 gathered=0
  printf '%s\n' "$MODE" "$N" "$RANGES" "$OUTPUT"
  for i in "${!INPUT_PATHS[@]}"; do
    size=${INPUT_STATES[i]%% *}
    if [ "${INPUT_WHOLE[i]}" = yes ]; then
      planPart 0 end "$size"
      continue
    fi
    for ((from = 0; from < size - PARTBYTES; from += PARTBYTES)); do
      planPart "$from" $((from + PARTBYTES)) "$PARTBYTES"
    done
    planPart "$from" "$size" $((size - from))
  done
}

# whyNotThisPlan: the plan in WORK is not PLAN; says how, naming an input
# that changed since it was planned.
whyNotThisPlan() {
  local again="remove $WORK to start over"
  [ "$(head -n 4 "$WORK/tasks.txt")" = "$(head -n 4 <<<"$PLAN")" ] ||
    fail "$WORK: planned for other arguments (MODE, N or RANGES): $again"
  local -A now
  local i line task from to size mtime input
  for i in "${!INPUT_PATHS[@]}"; do now[${INPUT_PATHS[i]}]=${INPUT_STATES[i]}; done
  while IFS= read -r line; do
    read -r task from to size mtime _ <<<"$line"
    input=${line#"$task $from $to $size $mtime "}
    if [ -n "${now[$input]:-}" ] && [ "${now[$input]}" != "$size $mtime" ]; then
      fail "$input: changed since $WORK was planned (size and modification time were $size $mtime, now ${now[$input]}): $again"
    fi
  done < <(tail -n +5 "$WORK/tasks.txt")
  fail "$WORK: planned for other inputs or another PARTBYTES: $again"
}

# planWork: writes WORK/tasks.txt and WORK/parts.txt (the merges' @FILE: part
# i is parts/i.part), or checks that the plan already there is this one, so
# that a rerun reuses the parts and never mixes parts of another plan or of
# another version of an input into a merge. Two runs started at once take
# turns on WORK/lock, so that the second finds the plan of the first.
planWork() {
  local lock tmp i
  mkdir -p "$WORK"/{parts,ranges,logs}
  exec {lock}>>"$WORK/lock"
  flock -w 600 "$lock" || fail "$WORK/lock: another run has been planning for 10 minutes"
  if [ -e "$WORK/tasks.txt" ]; then
    [ "$PLAN" = "$(cat "$WORK/tasks.txt")" ] || whyNotThisPlan
  fi
  if [ ! -e "$WORK/parts.txt" ]; then
    tmp=$(mktemp "$WORK/parts.txt.XXXXXX")
    for ((i = 0; i < PARTS; i++)); do printf '%s/parts/%s.part\n' "$WORK" "$i"; done >"$tmp"
    mv -f "$tmp" "$WORK/parts.txt"
  fi
  if [ ! -e "$WORK/tasks.txt" ]; then
    tmp=$(mktemp "$WORK/tasks.txt.XXXXXX")
    printf '%s\n' "$PLAN" >"$tmp"
    mv -f "$tmp" "$WORK/tasks.txt"
  fi
  exec {lock}>&-
}
