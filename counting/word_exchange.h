// A chunk's word n-grams counted by several threads into word tables that
// split the texts by hash (counting/word_table.h: wordTableOwning): every
// thread scans stretches of the chunk and routes each text to the table
// that owns its hash, so the tables hold each text about once, as one table
// would, however many threads count.
//
// Each table is its thread's: thread i counts table i, so that the table's
// busy slots (the frequent texts) stay in that CPU's cache. A thread gathers
// its texts in batches, one open batch per table; a full batch joins its
// table's queue, and the table's thread counts its queue between its runs
// of texts. A counted batch goes back to the thread that filled it, which
// takes a spare batch in place of the full one, or makes a new one, up to a
// share of the working memory. A thread that sleeps costs the others
// little: a queue that has fallen behind by a few batches, or whose thread
// has finished scanning, is counted by the thread that adds to it, if no
// thread is counting it. A thread waits for a batch to come back only when
// it has made all it may, and then first counts the queues that no thread
// counts; its batches then lie in queues that threads are counting. (A
// thread that waits sleeps, and on a busy machine it may not get a CPU
// back for milliseconds.)
//
// Texts of N >= 2 words lie in the scanner's buffer only while it hands
// them on, so a batch copies their bytes. A text longer than
// MaxHandedTextBytes (hundreds of words) is counted at once by the thread
// that found it, once no other thread counts its table.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "counting/ngram_count_table.h"
#include "counting/text_hash.h"
#include "counting/word_ngrams.h"

inline constexpr std::size_t MaxHandedTextBytes = 4096;

// The most bytes one thread's batches take when `threads` count N-word
// texts within this much working memory.
std::int64_t wordExchangeMemory(std::size_t threads, std::int32_t n, std::int64_t working);

class WordExchange {
public:
    // Among as many threads as the table has word tables.
    WordExchange(NGramCountTable& table, std::int32_t n);
    ~WordExchange();
    WordExchange(const WordExchange&) = delete;
    WordExchange& operator=(const WordExchange&) = delete;

    // Thread `self`'s part, each on a thread of its own: routes every text
    // that `scan` gives its sink to the table that owns it, and counts
    // tables' queues as it finds them idle. Once every thread has returned,
    // every text is counted, and the threads may run again (the next
    // chunk). When one thread fails, the others return soon, the count
    // unfinished, and the failure is that thread's alone.
    using Scan = std::function<void(const WordTextsSink&)>;
    void run(std::size_t self, const Scan& scan);

private:
    struct Batch;
    struct Spares;
    struct Queue;
    struct Lane;

    void route(Lane& lane, const std::string_view* texts, std::size_t count);
    Batch* handOver(Lane& lane, std::size_t table, bool last);
    bool countIfIdle(Lane& lane, std::size_t table, bool finish);
    void countAlone(Lane& lane, std::size_t table, std::string_view text, std::uint64_t hash);
    void countQueue(Lane& lane, std::size_t table);
    Batch* spare(Lane& lane);
    Batch* newBatch(std::size_t self);
    void abandon();

    NGramCountTable& table_;
    const HashKey key_;
    const std::size_t tables_;
    const bool copies_;
    const std::size_t batchTexts_, batchBytes_, mostBatches_;
    std::unique_ptr<Queue[]> queues_;   // one a table
    std::unique_ptr<Spares[]> spares_;  // one a thread
    std::atomic<bool> abandoned_{false};
};
