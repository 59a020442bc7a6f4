# Sourced by slurm-count and parallel-count: the command line, the programs
# and the plan of the work folder, so both engines run the very same tasks.
# shellcheck shell=bash

# MIN_COUNT: the C of --min-count=C (parseMinCount), or empty: every
# tallomer-merge leaves out of OUTPUT the n-grams counted fewer than C times
# in all the inputs together. It is in the plan, on the RANGES line, so that
# a rerun never joins ranges merged with another threshold.
MIN_COUNT=

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
# 0 and at most MAX, compared as text (the longer is larger, of equal
# lengths the later in order): bash arithmetic wraps at 2^63 and reads a
# leading 0 as octal.
wholeNumber() {
  if ! [[ $2 =~ ^[1-9][0-9]*$ ]] || [ ${#2} -gt ${#3} ] || { [ ${#2} -eq ${#3} ] && [[ $2 > $3 ]]; }; then
    refuse "$1 \"$2\" must be a whole number from 1 to $3"
  fi
}

# parseMinCount C: MIN_COUNT, the count tallomer-merge takes (1 to 2^63 - 1).
parseMinCount() {
  wholeNumber --min-count "$1" 9223372036854775807
  MIN_COUNT=$1
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
# dropped, blank lines skipped), checked and planned: the plan into PLAN
# (see planInputs), the number of parts into PARTS, of part tasks into
# TASKS. One `tallomer-part MODE N @-` answers for every input at once, and
# one awk reads the answers, so that planning thousands of small inputs
# takes a moment, not a process each. Each input must be a file that can be
# read; one file named twice, however spelled, is refused: its parts would
# overlap in every merge.
readInputs() {
  local lines=() answers status=0 planned planning=0 said
  mapfile -t lines <"$INPUTLIST"
  lines=("${lines[@]%$'\r'}")
  # Asked of the names as listed (a "-" there is a file: the list is read
  # from standard input).
  answers=$(printf '%s\n' "${lines[@]}" | "$TALLOMER_BIN/tallomer-part" "$MODE" "$N" @- 2>&1) || status=$?
  planned=$(planInputs <(printf '%s\n' "${lines[@]}") <<<"$answers"$'\n'"status $status") || planning=$?
  case $planning in
  0) ;;
  3)
    # tallomer-part failed on an input: said is its name, its line and
    # tallomer-part's reason.
    mapfile -t said <<<"$planned"
    [ -f "${said[0]}" ] || fail "${said[0]}: not a file (line ${said[1]} of $INPUTLIST)"
    [ -r "${said[0]}" ] || fail "${said[0]}: cannot read it (line ${said[1]} of $INPUTLIST)"
    fail "${said[2]} (line ${said[1]} of $INPUTLIST)"
    ;;
  *) fail "$planned" ;;
  esac
  # shellcheck disable=SC2034 # the number of part tasks, for the callers
  read -r PARTS TASKS <<<"${planned%%$'\n'*}"
  PLAN=$(printf '%s\n' "$MODE" "$N" "$RANGES${MIN_COUNT:+ --min-count=$MIN_COUNT}" "$OUTPUT")$'\n'${planned#*$'\n'}
}

# planInputs NAMES: the plan's parts from the list's lines (the file NAMES,
# a CR before the LF dropped) and tallomer-part's answers for its names (on
# standard input, `ANSWER SIZE MTIME DEVICE:INODE PATH` each, up to its
# message where it failed, then `status S`, its exit status). Prints "PARTS
# TASKS", then part i on line 2 + i: TASK FROM TO SIZE MTIME INPUT, the
# input (the PATH answered: absolute, links resolved) last and whole (it
# may hold spaces and tabs); SIZE and MTIME are the input's when planned.
# A plain input is cut every PARTBYTES; one counted whole is one part, 0 to
# end, whatever its size. A part task counts consecutive parts until they
# hold about PARTBYTES of stored bytes together, so that many small inputs
# make few tasks, while a part of PARTBYTES is a task alone. A refusal is
# one line, exit status 2; where tallomer-part failed, exit status 3 and
# three lines: the name, its line number and tallomer-part's reason.
# awk's numbers are doubles: exact for inputs below 2^53 bytes (8 PiB),
# the larger refused.
planInputs() {
  PLAN_LIST=$INPUTLIST PLAN_BIN=$TALLOMER_BIN PLAN_PARTBYTES=$PARTBYTES PLAN_MAX_PARTS=$MAX_PARTS LC_ALL=C awk '
    function refuse(message) { print message; failed = 1; exit 2 }
    # The answer of input k into multiple, size, mtime, identity and path;
    # whether it is one.
    function answered(a, i) {
      i = index(a, " "); multiple = substr(a, 1, i - 1); a = substr(a, i + 1)
      i = index(a, " "); size = substr(a, 1, i - 1); a = substr(a, i + 1)
      i = index(a, " "); mtime = substr(a, 1, i - 1); a = substr(a, i + 1)
      i = index(a, " "); identity = substr(a, 1, i - 1); path = substr(a, i + 1)
      return i > 0 && (multiple == "whole" || multiple ~ /^[1-9][0-9]*$/) && size ~ /^(0|[1-9][0-9]*)$/ &&
        mtime ~ /^-?[0-9]+\.[0-9]+$/ && identity ~ /^[0-9]+:[0-9]+$/ && path ~ /^\//
    }
    function part(from, to, bytes) {
      if (gathered > 0 && gathered + bytes > partBytes) { task++; gathered = 0 }
      gathered += bytes
      body[++parts] = task " " from " " to " " size " " mtime " " path
    }
    FILENAME == ARGV[1] { if ($0 != "") { names++; name[names] = $0; line[names] = FNR }; next }
    $0 != "" { answer[++answers] = $0 }
    END {
      if (failed) exit 2
      task = 0; gathered = 0; parts = 0
      list = ENVIRON["PLAN_LIST"]; partBytes = ENVIRON["PLAN_PARTBYTES"] + 0; maxParts = ENVIRON["PLAN_MAX_PARTS"] + 0
      status = answer[answers]; sub(/^status /, "", status); answers--
      if (names == 0) refuse(list ": names no input")
      for (k = 1; k <= names; k++) {
        a = k <= answers ? answer[k] : ""
        if (!answered(a)) {
          if (status == 2 && substr(a, 1, 15) == "tallomer-part: ") {
            print name[k]; print line[k]; print substr(a, 16); failed = 1; exit 3
          }
          refuse(ENVIRON["PLAN_BIN"] "/tallomer-part: printed \"" a "\" for " name[k] " (exit status " status "), not its answer")
        }
        if (identity in lineOf)
          refuse(list ": lines " lineOf[identity] " and " line[k] " name the same file (" nameOf[identity] " and " name[k] ")")
        lineOf[identity] = line[k]; nameOf[identity] = name[k]
        if (length(size) > 16 || (length(size) == 16 && size > "9007199254740992"))
          refuse(path ": " size " bytes: too large to plan (line " line[k] " of " list ")")
        if (multiple == "whole") {
          counted += 1
        } else {
          # Parts of PARTBYTES and a shorter last one (an empty input is one
          # part); the quotient of doubles set right where it rounded.
          n = size == 0 ? 1 : int((size - 1) / partBytes) + 1
          while (n > 1 && (n - 1) * partBytes >= size) n--
          while (n * partBytes < size) n++
          counted += n
        }
        if (counted > maxParts)
          refuse(list ": more than " maxParts " parts of " ENVIRON["PLAN_PARTBYTES"] " bytes: choose a larger PARTBYTES")
        whole[k] = multiple == "whole"; sizeOf[k] = size; mtimeOf[k] = mtime; pathOf[k] = path
      }
      # Every input answered, and yet a failure (its console, say).
      if (status != 0)
        refuse(ENVIRON["PLAN_BIN"] "/tallomer-part: exit status " status ": " answer[names + 1])
      for (k = 1; k <= names; k++) {
        size = sizeOf[k]; mtime = mtimeOf[k]; path = pathOf[k]
        if (whole[k]) { part(0, "end", size + 0); continue }
        for (from = 0; from < size - partBytes; from += partBytes)
          part(sprintf("%.0f", from), sprintf("%.0f", from + partBytes), partBytes)
        part(sprintf("%.0f", from), size, size - from)
      }
      print parts " " task + 1
      for (i = 1; i <= parts; i++) print body[i]
    }' "$1" -
}

# whyNotThisPlan: the plan in WORK is not PLAN; says how, naming an input
# that changed since it was planned.
whyNotThisPlan() {
  local again="remove $WORK to start over" changed
  [ "$(head -n 4 "$WORK/tasks.txt")" = "$(head -n 4 <<<"$PLAN")" ] ||
    fail "$WORK: planned for other arguments (MODE, N, RANGES or --min-count): $again"
  # The first input whose size and modification time in the plan there
  # are not those in PLAN.
  changed=$(LC_ALL=C awk '
    # A plan line: its input into input, "SIZE MTIME" into state.
    function parse(s, i, k) {
      for (k = 0; k < 3; k++) { i = index(s, " "); s = substr(s, i + 1) }
      i = index(s, " "); state = substr(s, 1, i - 1); s = substr(s, i + 1)
      i = index(s, " "); state = state " " substr(s, 1, i - 1); input = substr(s, i + 1)
    }
    FNR <= 4 { next }
    FILENAME == ARGV[1] { parse($0); now[input] = state; next }
    { parse($0) }
    (input in now) && now[input] != state { print input; print state; print now[input]; exit }' \
    <(printf '%s\n' "$PLAN") "$WORK/tasks.txt")
  if [ -n "$changed" ]; then
    local said
    mapfile -t said <<<"$changed"
    fail "${said[0]}: changed since $WORK was planned (size and modification time were ${said[1]}, now ${said[2]}): $again"
  fi
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
