// What the tests reach of a count table, built into the tests alone.
#include "tests/support/table_for_tests.h"

#include "counting/table_sort.h"
#include "counting/text_hash.h"
#include "counting/word_table.h"

WordTable& TableForTests::words(NGramCountTable& table) { return *table.words_[0]; }

void TableForTests::splitWords(NGramCountTable& table, std::size_t tables) { table.splitWordTables(tables); }

void TableForTests::forEach(NGramCountTable& table,
                            const std::function<void(std::string_view, std::int64_t)>& visit) {
    table.visitCountsInOrder(visit);
}

std::uint64_t hashNGramText(NGramCountTable& table, std::string_view text) {
    return TableForTests::words(table).hash(text);
}

void setHashSeed(NGramCountTable& table, std::uint64_t seed) {
    WordTable& words = TableForTests::words(table);
    words.release();
    words.key = keyFromSeed(seed);
}

std::uint64_t totalProbeDistance(NGramCountTable& table) {
    WordTable& words = TableForTests::words(table);
    hashAgain(words);
    return words.probeDistance();
}

std::string checkNGramCountTable(NGramCountTable& table) {
    WordTable& words = TableForTests::words(table);
    hashAgain(words);
    return words.checkConsistency();
}

std::int64_t distinctNGrams(NGramCountTable& table) {
    std::int64_t distinct = 0;
    TableForTests::forEach(table, [&](std::string_view, std::int64_t) { ++distinct; });
    return distinct;
}

void forEachNGram(NGramCountTable& table, const std::function<void(std::string_view, std::int64_t)>& visit) {
    TableForTests::forEach(table, visit);
}
