#include "input/stored_bytes.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/io_error.h"

StoredBytes::StoredBytes(const std::string& path) : name_(path == "-" ? "standard input" : path) {
    if (path == "-") {
        descriptor_ = STDIN_FILENO;
    } else {
        descriptor_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor_ < 0) throw IoError(name_, systemReason());
        ownsDescriptor_ = true;
    }
    try {
        describe();
    } catch (...) {
        if (ownsDescriptor_) ::close(descriptor_);
        throw;
    }
}

void StoredBytes::describe() {
    struct stat status {};
    if (::fstat(descriptor_, &status) != 0) throw IoError(name_, systemReason());
    if (S_ISDIR(status.st_mode)) throw IoError(name_, "is a directory");
    if (S_ISREG(status.st_mode)) {
        // Standard input redirected from a file may start past its
        // beginning; the stored bytes are those from there on.
        off_t start = ::lseek(descriptor_, 0, SEEK_CUR);
        size_ = std::max<std::int64_t>(status.st_size - std::max<off_t>(start, 0), 0);
        // One more byte than the file, so that the first read finds its end.
        capacity_ = std::clamp(static_cast<std::size_t>(*size_) + 1, std::size_t{4096}, BufferSize);
    }
    buffer_.reset(new unsigned char[capacity_]);
    if (size_ == 0) probeEmptyFile();
    // A stream may keep a reader waiting as long as its writer likes: the
    // wait is on this signal too. Without one, stop() takes effect at the
    // next read.
    if (!size_) stopSignal_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void StoredBytes::probeEmptyFile() {
    if (readSome(buffer_.get(), 1) == 0) return;
    size_.reset();
    std::unique_ptr<unsigned char[]> larger(new unsigned char[BufferSize]);
    larger[0] = buffer_[0];
    buffer_ = std::move(larger);
    capacity_ = BufferSize;
    end_ = 1;
}

StoredBytes::~StoredBytes() {
    if (stopSignal_ >= 0) ::close(stopSignal_);
    if (ownsDescriptor_) ::close(descriptor_);
}

void StoredBytes::stop() {
    stopped_.store(true);
    if (stopSignal_ >= 0) {
        std::uint64_t one = 1;
        // Fails only when the counter is full: it is readable then anyway.
        [[maybe_unused]] ssize_t wrote = ::write(stopSignal_, &one, sizeof one);
    }
}

void StoredBytes::waitForBytes() {
    pollfd waits[2] = {{descriptor_, POLLIN, 0}, {stopSignal_, POLLIN, 0}};
    while (::poll(waits, 2, -1) < 0)
        if (errno != EINTR) throw IoError(name_, systemReason());
    if (waits[1].revents != 0) throw IoError(name_, "reading stopped");
}

std::size_t StoredBytes::readSome(unsigned char* destination, std::size_t bytes) {
    if (ended_ || bytes == 0) return 0;
    if (stopped_.load()) throw IoError(name_, "reading stopped");
    if (stopSignal_ >= 0) waitForBytes();
    ssize_t got;
    do got = ::read(descriptor_, destination, bytes);
    while (got < 0 && errno == EINTR);
    if (got < 0) throw IoError(name_, systemReason());
    bytesRead_ += got;
    if (got > 0) return static_cast<std::size_t>(got);
    ended_ = true;
    if (size_ && bytesRead_ < *size_)
        throw IoError(name_, "file shrank while being read (ended after " + std::to_string(bytesRead_) +
                                 " of " + std::to_string(*size_) + " bytes)");
    return 0;
}

bool StoredBytes::refill() {
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, available());
        end_ -= begin_;
        begin_ = 0;
    }
    std::size_t got = readSome(buffer_.get() + end_, capacity_ - end_);
    end_ += got;
    return got > 0;
}

bool StoredBytes::fill(std::size_t bytes) {
    while (available() < bytes)
        if (!refill()) return false;
    return true;
}

std::size_t StoredBytes::readInto(char* destination, std::size_t bytes) {
    std::size_t done = std::min(bytes, available());
    std::memcpy(destination, data(), done);
    consume(done);
    while (done < bytes) {
        std::size_t got = readSome(reinterpret_cast<unsigned char*>(destination) + done, bytes - done);
        if (got == 0) break;
        done += got;
    }
    return done;
}
