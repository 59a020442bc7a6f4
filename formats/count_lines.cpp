#include "formats/count_lines.h"

#include <algorithm>
#include <cstring>

CountLines::CountLines(BlockSink& sink, std::size_t blockBytes)
    : sink_(sink), block_{std::string(std::max(blockBytes, 2 * ShortCountLine), '\0')} {
    at_ = block_.bytes.data();
    end_ = at_ + block_.bytes.size();
}

void CountLines::handOver() {
    block_.used = static_cast<std::size_t>(at_ - block_.bytes.data());
    if (block_.used > 0) sink_.take(block_);
    at_ = block_.bytes.data();
    end_ = at_ + block_.bytes.size();
}

void CountLines::put(std::string_view bytes) {
    while (!bytes.empty()) {
        if (at_ == end_) handOver();
        std::size_t step = std::min(bytes.size(), static_cast<std::size_t>(end_ - at_));
        std::memcpy(at_, bytes.data(), step);
        at_ += step;
        bytes.remove_prefix(step);
    }
}

// A long text, or one with LF, which goes out as CR LF.
void CountLines::addOther(std::string_view text, std::int64_t count) {
    for (std::size_t lineFeed; (lineFeed = text.find('\n')) != std::string_view::npos;) {
        put(text.substr(0, lineFeed));
        put("\r\n");
        text.remove_prefix(lineFeed + 1);
    }
    put(text);
    char number[24];
    number[0] = ';';
    char* end = count_file_detail::putCount(number + 1, count);
    *end++ = '\r';
    *end++ = '\n';
    put({number, static_cast<std::size_t>(end - number)});
}
