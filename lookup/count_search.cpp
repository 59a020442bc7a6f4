#include "lookup/count_search.h"

#include <optional>
#include <string>

#include "common/io_error.h"

namespace {

// An entry read, kept as one end of the bytes that remain to be searched.
struct Bound {
    std::int64_t start = 0;
    std::string text;
};

class OrderCheck {
public:
    explicit OrderCheck(const std::string& path) : path_(path) {}
    // The entry at `start` lies between the bounds: its text must too.
    void check(std::int64_t start, std::string_view text) const {
        if (below_ && text <= below_->text) fail(below_->start, start);
        if (above_ && text >= above_->text) fail(start, above_->start);
    }
    void setBelow(std::int64_t start, std::string_view text) { set(below_, start, text); }
    void setAbove(std::int64_t start, std::string_view text) { set(above_, start, text); }
    void dropAbove() { above_.reset(); }

private:
    static void set(std::optional<Bound>& bound, std::int64_t start, std::string_view text) {
        if (!bound) bound.emplace();
        bound->start = start;
        bound->text.assign(text);
    }
    [[noreturn]] void fail(std::int64_t earlier, std::int64_t later) const {
        throw IoError(path_, "not in order: the text of the entry at byte " + std::to_string(earlier) +
                                 " is not below that of the entry at byte " + std::to_string(later) +
                                 ", as a count file's texts are, in ascending byte order");
    }

    const std::string& path_;
    std::optional<Bound> below_, above_;
};

}  // namespace

std::int64_t searchCount(EntryLocator& file, std::string_view ngram, std::int64_t scanBytes) {
    // Every entry before `low` has a text below the n-gram, every entry from
    // `high` on one above it; low and high are entry starts.
    std::int64_t low = 0, high = file.size();
    OrderCheck order(file.path());
    while (high - low > scanBytes) {
        std::optional<std::int64_t> start = file.entryStartIn(low + (high - low) / 2, high);
        // The entry that the middle falls in reaches `high`: the entries
        // before it are read one by one.
        if (!start) break;
        LocatedEntry entry = file.entryAt(*start);
        order.check(entry.start, entry.text);
        int side = entry.text.compare(ngram);
        if (side == 0) return entry.count;
        if (side < 0) {
            order.setBelow(entry.start, entry.text);
            low = entry.end;
        } else {
            order.setAbove(entry.start, entry.text);
            high = entry.start;
        }
    }
    // Every entry left is read, and the two from `high` on, each checked
    // against the one before: the order around the n-gram's place is seen
    // on both sides, also where an entry of the halving was out of place.
    order.dropAbove();
    std::int64_t count = 0;
    for (int past = 0; low < file.size() && (low < high || past++ < 2);) {
        LocatedEntry entry = file.entryAt(low);
        order.check(entry.start, entry.text);
        if (entry.text == ngram) count = entry.count;
        order.setBelow(entry.start, entry.text);
        low = entry.end;
    }
    return count;
}
