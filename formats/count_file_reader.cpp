#include "formats/count_file_reader.h"

#include <algorithm>

void failCountTooLarge(const std::string& path, std::int64_t lineNumber) {
    throw IoError(path, "line " + std::to_string(lineNumber) + ": the count does not fit in 64 bits");
}

LineBlockReader::LineBlockReader(const std::string& path, std::int64_t blockSize, std::int64_t from)
    : file_(path),
      buffer_(allocateBytes(std::clamp<std::int64_t>(file_.size() - from, 1, blockSize))),
      offset_(from),
      blockStart_(from) {}

std::string_view LineBlockReader::nextBlock() {
    // The unfinished line moves to the front; the file's next bytes follow it.
    blockStart_ += tailStart_;
    std::int64_t filled = tailEnd_ - tailStart_;
    std::memmove(buffer_.data(), buffer_.data() + tailStart_, static_cast<std::size_t>(filled));
    tailStart_ = tailEnd_ = 0;
    for (;;) {
        std::int64_t left = file_.size() - offset_;
        if (left == 0) return {buffer_.data(), static_cast<std::size_t>(filled)};
        if (filled == buffer_.size) {
            ByteBuffer larger = allocateBytes(std::min(2 * buffer_.size, buffer_.size + left));
            std::memcpy(larger.data(), buffer_.data(), static_cast<std::size_t>(filled));
            buffer_ = std::move(larger);
        }
        std::int64_t length = std::min(buffer_.size - filled, left);
        file_.readAt(offset_, buffer_.data() + filled, length);
        offset_ += length;
        std::string_view fresh(buffer_.data() + filled, static_cast<std::size_t>(length));
        filled += length;
        std::size_t lastLineFeed = fresh.rfind('\n');
        if (lastLineFeed != std::string_view::npos) {
            tailStart_ = (fresh.data() - buffer_.data()) + static_cast<std::int64_t>(lastLineFeed) + 1;
            tailEnd_ = filled;
            return {buffer_.data(), static_cast<std::size_t>(tailStart_)};
        }
    }
}
