#include "counting/word_exchange.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "common/text_bytes.h"
#include "counting/word_table.h"

namespace {

// Batches hold fewer texts the more tables there are, so that a thread's
// open batches take about the same memory whatever their number; each
// holds enough for the table's fetches ahead
// (counting/ngram_count_table.cpp) to pay.
std::size_t textsPerBatch(std::size_t tables) {
    return std::clamp<std::size_t>(8192 / std::max<std::size_t>(tables, 1), 256, 2048);
}
// Room for texts of this many bytes on average (three words of the long-word
// corpus take about 30), and at least for the longest handed on.
constexpr std::size_t BytesPerText = 48;
std::size_t bytesPerBatch(std::size_t tables, std::int32_t n) {
    return n > 1 ? std::max(textsPerBatch(tables) * BytesPerText, MaxHandedTextBytes) : 0;
}
std::size_t bytesOfBatch(std::size_t tables, std::int32_t n) {
    return textsPerBatch(tables) * (sizeof(std::string_view) + sizeof(std::uint64_t)) +
           bytesPerBatch(tables, n);
}
// The batches of all threads take at most this share of the working memory
// and this much a thread; a thread has at least its open batches and two.
constexpr std::int64_t WorkingShare = 16, MostBytesPerThread = std::int64_t{8} << 20;
std::size_t fewestBatches(std::size_t tables) { return tables + 2; }
// A table's thread checks its queue after each run of texts it scans,
// while others fill about one batch: this many waiting mean it is held up,
// and their sender counts them.
constexpr std::size_t BehindBatches = 4;

// Another thread failed; this one leaves quietly, its failure the one told.
struct Abandoned {};

}  // namespace

std::int64_t wordExchangeMemory(std::size_t threads, std::int32_t n, std::int64_t working) {
    if (threads <= 1) return 0;
    auto batch = static_cast<std::int64_t>(bytesOfBatch(threads, n));
    std::int64_t share =
        std::min(working / WorkingShare / static_cast<std::int64_t>(threads), MostBytesPerThread);
    return std::max(share / batch, static_cast<std::int64_t>(fewestBatches(threads))) * batch;
}

struct WordExchange::Batch {
    std::size_t sender = 0;
    std::size_t size = 0;
    std::size_t bytesUsed = 0;
    std::unique_ptr<std::string_view[]> texts;
    std::unique_ptr<std::uint64_t[]> hashes;
    std::unique_ptr<char[]> bytes;
};

// A thread's batches: those given back to it once counted, and those it
// made, which only it touches and which stay until the exchange ends (other
// threads may hold them after it returns). Apart from its neighbours' cache
// lines, as a queue is.
struct alignas(64) WordExchange::Spares {
    std::mutex lock;
    std::condition_variable givenBack;
    std::vector<Batch*> back;
    std::vector<std::unique_ptr<Batch>> made;
};

// A table's full batches, whether a thread is counting into the table, and
// whether the table's own thread has finished.
struct alignas(64) WordExchange::Queue {
    std::mutex lock;
    std::condition_variable idle;
    std::vector<Batch*> waiting;
    bool counting = false;
    bool finished = false;
    // Whether `waiting` may hold batches: looked at by the table's own
    // thread between runs of texts without taking the lock.
    std::atomic<bool> hasWaiting{false};
};

// A thread's own side: its open batch for each table and its spares.
struct WordExchange::Lane {
    std::size_t self;
    std::vector<Batch*> open;
    std::vector<Batch*> spare;
    std::vector<Batch*> taken;  // the batches of a queue being counted
};

WordExchange::WordExchange(NGramCountTable& table, std::int32_t n)
    : table_(table),
      key_(table.wordHashKey()),
      tables_(table.wordTables()),
      copies_(n > 1),
      batchTexts_(textsPerBatch(tables_)),
      batchBytes_(bytesPerBatch(tables_, n)),
      mostBatches_(static_cast<std::size_t>(wordExchangeMemory(tables_, n, table.workingMemory())) /
                   bytesOfBatch(tables_, n)),
      queues_(std::make_unique<Queue[]>(tables_)),
      spares_(std::make_unique<Spares[]>(tables_)) {}

WordExchange::~WordExchange() = default;

void WordExchange::run(std::size_t self, const Scan& scan) {
    // Every batch of a chunk before has been counted: all are spare.
    Lane lane{self, {}, {}, {}};
    Spares& mine = spares_[self];
    {
        std::lock_guard<std::mutex> lock(mine.lock);
        mine.back.clear();
    }
    {
        std::lock_guard<std::mutex> lock(queues_[self].lock);
        queues_[self].finished = false;
    }
    for (const auto& batch : mine.made) lane.spare.push_back(batch.get());
    try {
        for (std::size_t table = 0; table < tables_; ++table) lane.open.push_back(spare(lane));
        scan([&](const std::string_view* texts, std::size_t count) {
            route(lane, texts, count);
            if (queues_[self].hasWaiting.load(std::memory_order_relaxed)) countIfIdle(lane, self, false);
        });
        for (std::size_t table = 0; table < tables_; ++table)
            if (lane.open[table]->size > 0) handOver(lane, table, true);
        countIfIdle(lane, self, true);
    } catch (const Abandoned&) {
        return;
    } catch (...) {
        abandon();
        throw;
    }
}

void WordExchange::route(Lane& lane, const std::string_view* texts, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::string_view text = texts[i];
        std::uint64_t hash = hashWordText(key_, text);
        std::size_t table = wordTableOwning(hash, tables_);
        Batch* batch = lane.open[table];
        if (copies_) {
            if (text.size() > MaxHandedTextBytes) {
                countAlone(lane, table, text, hash);
                continue;
            }
            if (batch->bytesUsed + text.size() > batchBytes_) batch = handOver(lane, table, false);
            char* copy = batch->bytes.get() + batch->bytesUsed;
            copyShort(copy, text.data(), text.size());
            batch->bytesUsed += text.size();
            text = {copy, text.size()};
        }
        batch->texts[batch->size] = text;
        batch->hashes[batch->size] = hash;
        if (++batch->size == batchTexts_) handOver(lane, table, false);
    }
}

// The table's full batch joins its queue, and a spare becomes the table's
// open batch unless that was the last. The batch is counted now if the
// table is idle and this thread's own, or its own thread has finished or
// fallen behind (the machine holds it up).
WordExchange::Batch* WordExchange::handOver(Lane& lane, std::size_t table, bool last) {
    if (abandoned_.load(std::memory_order_relaxed)) throw Abandoned{};
    Queue& queue = queues_[table];
    bool counts;
    {
        std::lock_guard<std::mutex> lock(queue.lock);
        queue.waiting.push_back(lane.open[table]);
        queue.hasWaiting.store(true, std::memory_order_relaxed);
        counts = !queue.counting &&
                 (table == lane.self || queue.finished || queue.waiting.size() >= BehindBatches);
        if (counts) queue.counting = true;
    }
    if (counts) countQueue(lane, table);
    if (last) return nullptr;
    return lane.open[table] = spare(lane);
}

// Counts the table's queue if no thread counts into the table; `finish`
// marks the table's own thread finished first, so that later batches are
// counted by their senders. True if it counted.
bool WordExchange::countIfIdle(Lane& lane, std::size_t table, bool finish) {
    Queue& queue = queues_[table];
    {
        std::lock_guard<std::mutex> lock(queue.lock);
        if (finish) queue.finished = true;
        if (queue.counting || queue.waiting.empty()) return false;
        queue.counting = true;
    }
    countQueue(lane, table);
    return true;
}

// Counts a text too long for a batch once no other thread counts its table,
// then the queue.
void WordExchange::countAlone(Lane& lane, std::size_t table, std::string_view text, std::uint64_t hash) {
    Queue& queue = queues_[table];
    {
        std::unique_lock<std::mutex> lock(queue.lock);
        queue.idle.wait(lock, [&] { return !queue.counting || abandoned_.load(); });
        if (abandoned_.load()) throw Abandoned{};
        queue.counting = true;
    }
    table_.addHashedNGrams(table, &text, &hash, 1);
    countQueue(lane, table);
}

// Counts the table's queue until it is empty, this thread having found the
// table idle, and gives each batch back to its thread.
void WordExchange::countQueue(Lane& lane, std::size_t table) {
    Queue& queue = queues_[table];
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(queue.lock);
            if (queue.waiting.empty()) {
                queue.hasWaiting.store(false, std::memory_order_relaxed);
                queue.counting = false;
                queue.idle.notify_all();
                return;
            }
            lane.taken.swap(queue.waiting);
        }
        for (Batch* batch : lane.taken) {
            table_.addHashedNGrams(table, batch->texts.get(), batch->hashes.get(), batch->size);
            batch->size = 0;
            batch->bytesUsed = 0;
            Spares& owner = spares_[batch->sender];
            std::lock_guard<std::mutex> lock(owner.lock);
            owner.back.push_back(batch);
            owner.givenBack.notify_one();
        }
        lane.taken.clear();
    }
}

// A batch given back, or a new one while the thread may make more. Else it
// counts the queues that no thread counts (this thread's batches may wait
// there), and then waits for a batch to come back.
WordExchange::Batch* WordExchange::spare(Lane& lane) {
    Spares& mine = spares_[lane.self];
    if (lane.spare.empty()) {
        std::lock_guard<std::mutex> lock(mine.lock);
        lane.spare.swap(mine.back);
    }
    if (lane.spare.empty() && mine.made.size() < mostBatches_) return newBatch(lane.self);
    for (std::size_t i = 0; i < tables_ && lane.spare.empty(); ++i)
        if (countIfIdle(lane, (lane.self + i) % tables_, false)) {
            std::lock_guard<std::mutex> lock(mine.lock);
            lane.spare.swap(mine.back);
        }
    if (lane.spare.empty()) {
        std::unique_lock<std::mutex> lock(mine.lock);
        mine.givenBack.wait(lock, [&] { return !mine.back.empty() || abandoned_.load(); });
        if (abandoned_.load()) throw Abandoned{};
        lane.spare.swap(mine.back);
    }
    Batch* batch = lane.spare.back();
    lane.spare.pop_back();
    return batch;
}

WordExchange::Batch* WordExchange::newBatch(std::size_t self) {
    auto batch = std::make_unique<Batch>();
    batch->sender = self;
    batch->texts = std::make_unique_for_overwrite<std::string_view[]>(batchTexts_);
    batch->hashes = std::make_unique_for_overwrite<std::uint64_t[]>(batchTexts_);
    if (copies_) batch->bytes = std::make_unique_for_overwrite<char[]>(batchBytes_);
    spares_[self].made.push_back(std::move(batch));
    return spares_[self].made.back().get();
}

// Wakes every thread that waits, for it to leave.
void WordExchange::abandon() {
    abandoned_.store(true);
    for (std::size_t i = 0; i < tables_; ++i) {
        {
            std::lock_guard<std::mutex> lock(spares_[i].lock);
            spares_[i].givenBack.notify_all();
        }
        std::lock_guard<std::mutex> lock(queues_[i].lock);
        queues_[i].idle.notify_all();
    }
}
