# shellcheck shell=bash
# The corpus of bench/run.sh, bench/parts.sh and bench/threads.sh, which
# source this from the project root once they have set `bytes` (the corpus
# size) and `data` (the folder the corpus is cached in). Sets `corpus`, its
# path, and defines makeCorpus.
#
#   BENCH_CORPUS=short   short: words of 1 to 12 letters; long: 1 to 17
#                        letters in a real dictionary's lengths
# shellcheck disable=SC2154 # bytes and data are the sourcing script's
case ${BENCH_CORPUS:-short} in
  short) corpus=$data/corpus-$bytes.txt generatorKind= ;;
  long) corpus=$data/corpus-long-$bytes.txt generatorKind=long ;;
  *) echo "BENCH_CORPUS must be short or long" >&2; exit 1 ;;
esac

# makeCorpus GENERATOR [quiet]: unless the corpus is there already, writes it
# with GENERATOR (the built bench/generate_corpus), first saying so unless
# quiet.
makeCorpus() {
  if [ ! -f "$corpus" ]; then
    [ "${2:-}" = quiet ] || echo "Generating $corpus ..."
    "$1" "$bytes" "$corpus.part" $generatorKind
    mv "$corpus.part" "$corpus"
  fi
}
