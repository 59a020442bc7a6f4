#include "counting/word_exchange.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "common/text_bytes.h"
#include "counting/word_table.h"

namespace {

// Batches hold fewer texts the more tables there are, so that a thread's
// batches take about the same memory whatever their number; each holds
// enough for the table's fetches ahead (counting/ngram_count_table.cpp) to
// pay.
std::size_t textsPerBatch(std::size_t tables) {
    return std::clamp<std::size_t>(8192 / std::max<std::size_t>(tables, 1), 256, 2048);
}
// Room for texts of this many bytes on average (three words of the long-word
// corpus take about 30), and at least for the longest handed on.
constexpr std::size_t BytesPerText = 48;
std::size_t bytesPerBatch(std::size_t tables, std::int32_t n) {
    return n > 1 ? std::max(textsPerBatch(tables) * BytesPerText, MaxHandedTextBytes) : 0;
}
// Spares beside each thread's open batches: enough batches on their way
// that a thread seldom waits for one to come back.
std::size_t batchesPerThread(std::size_t tables) { return tables + std::min<std::size_t>(tables, 8); }

// Another thread failed; this one leaves quietly, its failure the one told.
struct Abandoned {};

}  // namespace

std::int64_t wordExchangeMemory(std::size_t threads, std::int32_t n) {
    if (threads <= 1) return 0;
    std::size_t batch = textsPerBatch(threads) * (sizeof(std::string_view) + sizeof(std::uint64_t)) +
                        bytesPerBatch(threads, n);
    return static_cast<std::int64_t>(batchesPerThread(threads) * batch);
}

struct WordExchange::Batch {
    std::size_t sender = 0;
    std::size_t size = 0;
    std::size_t bytesUsed = 0;
    std::unique_ptr<std::string_view[]> texts;
    std::unique_ptr<std::uint64_t[]> hashes;
    std::unique_ptr<char[]> bytes;
};

// A thread's inbox, which other threads fill under its lock; only its own
// thread waits on it. Apart from its neighbours' cache lines.
struct alignas(64) WordExchange::Inbox {
    std::mutex lock;
    std::condition_variable wake;
    std::vector<Batch*> arrived;   // other threads' batches for this one's table
    std::vector<Batch*> returned;  // this thread's batches, counted
    std::size_t sendersDone = 0;
    bool abandoned = false;
    // Whether `arrived` may hold batches: looked at between runs of texts
    // without taking the lock.
    std::atomic<bool> hasArrived{false};
};

// A thread's own side: its open batch for each table and its spares.
struct WordExchange::Lane {
    std::size_t self;
    std::vector<Batch*> open;
    std::vector<Batch*> spare;
    std::vector<Batch*> taken;  // reused by collect()
};

WordExchange::WordExchange(NGramCountTable& table, std::int32_t n)
    : table_(table),
      key_(table.wordHashKey()),
      tables_(table.wordTables()),
      copies_(n > 1),
      batchTexts_(textsPerBatch(tables_)),
      batchBytes_(bytesPerBatch(tables_, n)),
      inboxes_(std::make_unique<Inbox[]>(tables_)) {
    for (std::size_t i = 0; i < tables_ * batchesPerThread(tables_); ++i) {
        auto batch = std::make_unique<Batch>();
        batch->sender = i / batchesPerThread(tables_);
        batch->texts = std::make_unique_for_overwrite<std::string_view[]>(batchTexts_);
        batch->hashes = std::make_unique_for_overwrite<std::uint64_t[]>(batchTexts_);
        if (copies_) batch->bytes = std::make_unique_for_overwrite<char[]>(batchBytes_);
        batches_.push_back(std::move(batch));
    }
}

WordExchange::~WordExchange() = default;

void WordExchange::run(std::size_t self, const Scan& scan) {
    Lane lane{self, {}, {}, {}};
    std::size_t perThread = batchesPerThread(tables_);
    for (std::size_t i = 0; i < perThread; ++i) {
        Batch* batch = batches_[self * perThread + i].get();
        if (i < tables_)
            lane.open.push_back(batch);
        else
            lane.spare.push_back(batch);
    }
    try {
        scan([&](const std::string_view* texts, std::size_t count) {
            route(lane, texts, count);
            if (inboxes_[self].hasArrived.load(std::memory_order_relaxed)) collect(lane, Wait::No);
        });
        for (std::size_t table = 0; table < tables_; ++table) {
            Batch* last = lane.open[table];
            if (last->size == 0) continue;
            if (table == self)
                count(self, *last);
            else
                deliver(table, last);
        }
        finish();
        while (collect(lane, Wait::ForEnd)) {
        }
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
                table_.addHashedNGrams(lane.self, &text, &hash, 1);
                continue;
            }
            if (batch->bytesUsed + text.size() > batchBytes_) batch = handOver(lane, table);
            char* copy = batch->bytes.get() + batch->bytesUsed;
            copyShort(copy, text.data(), text.size());
            batch->bytesUsed += text.size();
            text = {copy, text.size()};
        }
        batch->texts[batch->size] = text;
        batch->hashes[batch->size] = hash;
        if (++batch->size == batchTexts_) handOver(lane, table);
    }
}

// The full batch for `table` counted (its own) or sent to the owner, and
// the table's open batch in its place.
WordExchange::Batch* WordExchange::handOver(Lane& lane, std::size_t table) {
    Batch* full = lane.open[table];
    if (table == lane.self) {
        count(lane.self, *full);
        return full;
    }
    deliver(table, full);
    while (lane.spare.empty()) collect(lane, Wait::ForSpare);
    lane.open[table] = lane.spare.back();
    lane.spare.pop_back();
    return lane.open[table];
}

void WordExchange::deliver(std::size_t table, Batch* batch) {
    Inbox& box = inboxes_[table];
    std::lock_guard<std::mutex> lock(box.lock);
    box.arrived.push_back(batch);
    box.hasArrived.store(true, std::memory_order_relaxed);
    box.wake.notify_one();
}

// Takes the batches given back into the spares and counts those arrived,
// first waiting until there are some (ForSpare: either kind; ForEnd: an
// arrival, or every thread done). False once every thread has sent its last
// batch and none is left to count.
bool WordExchange::collect(Lane& lane, Wait wait) {
    Inbox& box = inboxes_[lane.self];
    {
        std::unique_lock<std::mutex> lock(box.lock);
        box.wake.wait(lock, [&] {
            return wait == Wait::No || !box.arrived.empty() || box.abandoned ||
                   (wait == Wait::ForSpare ? !box.returned.empty() : box.sendersDone == tables_);
        });
        if (box.abandoned) throw Abandoned{};
        lane.spare.insert(lane.spare.end(), box.returned.begin(), box.returned.end());
        box.returned.clear();
        if (box.arrived.empty()) return box.sendersDone != tables_;
        lane.taken.swap(box.arrived);
        box.hasArrived.store(false, std::memory_order_relaxed);
    }
    for (Batch* batch : lane.taken) {
        count(lane.self, *batch);
        Inbox& sender = inboxes_[batch->sender];
        std::lock_guard<std::mutex> lock(sender.lock);
        sender.returned.push_back(batch);
        sender.wake.notify_one();
    }
    lane.taken.clear();
    return true;
}

void WordExchange::count(std::size_t self, Batch& batch) {
    table_.addHashedNGrams(self, batch.texts.get(), batch.hashes.get(), batch.size);
    batch.size = 0;
    batch.bytesUsed = 0;
}

void WordExchange::finish() {
    for (std::size_t i = 0; i < tables_; ++i) {
        std::lock_guard<std::mutex> lock(inboxes_[i].lock);
        ++inboxes_[i].sendersDone;
        inboxes_[i].wake.notify_one();
    }
}

void WordExchange::abandon() {
    for (std::size_t i = 0; i < tables_; ++i) {
        std::lock_guard<std::mutex> lock(inboxes_[i].lock);
        inboxes_[i].abandoned = true;
        inboxes_[i].wake.notify_one();
    }
}
