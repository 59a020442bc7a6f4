// A chunk's word n-grams counted by several threads into word tables that
// split the texts by hash (counting/word_table.h: wordTableOwning), each
// table counted by one thread: every thread scans a slice of the chunk and
// hands each text to the thread whose table owns its hash. So the tables
// hold each text about once, as one table would, however many threads
// count.
//
// A thread routes its texts into batches, one open batch per table; a full
// batch goes to the owner's inbox (one for its own table it counts at once)
// and the thread takes a spare batch of its own in its place. Between runs
// of texts a thread counts the batches that have arrived in its inbox and
// gives them back to their senders. A thread whose spares are all away
// counts what has arrived and waits only when nothing has: its batches then
// lie in the inboxes of threads that are not waiting, which count them and
// give them back. Once a thread has sent its last batch it counts what
// arrives until every thread has sent its last.
//
// Texts of N >= 2 words lie in the scanner's buffer only while it hands
// them on, so a batch copies their bytes. A text longer than
// MaxHandedTextBytes (hundreds of words) is counted by the thread that
// found it, in its own table: such a text may then be in several tables,
// which the final merge sums as it sums the runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "counting/ngram_count_table.h"
#include "counting/text_hash.h"
#include "counting/word_ngrams.h"

inline constexpr std::size_t MaxHandedTextBytes = 4096;

// The bytes one thread's batches take when `threads` count N-word texts.
std::int64_t wordExchangeMemory(std::size_t threads, std::int32_t n);

class WordExchange {
public:
    // Among as many threads as the table has word tables.
    WordExchange(NGramCountTable& table, std::int32_t n);
    ~WordExchange();
    WordExchange(const WordExchange&) = delete;
    WordExchange& operator=(const WordExchange&) = delete;

    // Thread `self`'s part, each on a thread of its own: hands every text
    // that `scan` gives its sink to the table that owns it, counts the
    // texts of table `self`, and returns once every thread's texts are
    // counted. When one thread fails, the others return at once, the count
    // unfinished, and the failure is that thread's alone.
    using Scan = std::function<void(const WordTextsSink&)>;
    void run(std::size_t self, const Scan& scan);

private:
    struct Batch;
    struct Inbox;
    struct Lane;
    enum class Wait { No, ForSpare, ForEnd };

    void route(Lane& lane, const std::string_view* texts, std::size_t count);
    Batch* handOver(Lane& lane, std::size_t table);
    void deliver(std::size_t table, Batch* batch);
    bool collect(Lane& lane, Wait wait);
    void count(std::size_t self, Batch& batch);
    void finish();
    void abandon();

    NGramCountTable& table_;
    const HashKey key_;
    const std::size_t tables_;
    const bool copies_;
    std::size_t batchTexts_ = 0, batchBytes_ = 0;
    std::vector<std::unique_ptr<Batch>> batches_;
    std::unique_ptr<Inbox[]> inboxes_;
};
