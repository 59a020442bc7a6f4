#include "common/file_io.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <new>

std::string systemReason() { return std::strerror(errno); }

std::optional<DescriptorUse> descriptorUse() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return std::nullopt;
    std::size_t open = 0;
    std::error_code ignored;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ignored);
         it != std::filesystem::directory_iterator(); it.increment(ignored))
        ++open;
    return DescriptorUse{static_cast<std::size_t>(files.rlim_cur), open};
}

namespace {

void requireRegularFile(const std::string& path) {
    std::error_code error;
    auto status = std::filesystem::status(path, error);
    if (error) throw IoError(path, error.message());
    if (std::filesystem::is_directory(status)) throw IoError(path, "is a directory");
    if (!std::filesystem::is_regular_file(status)) throw IoError(path, "not a regular file");
}

}  // namespace

InputFile::InputFile(const std::string& path) : path_(path) {
    requireRegularFile(path);
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) throw IoError(path, systemReason());
    try {
        measure();
    } catch (...) {
        std::fclose(file_);
        throw;
    }
}

void InputFile::measure() {
    // Reads go straight into the caller's large buffer, never via a copy.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    if (std::fseek(file_, 0, SEEK_END) != 0) throw IoError(path_, systemReason());
    long end = std::ftell(file_);
    if (end < 0) throw IoError(path_, systemReason());
    size_ = end;
    // A pseudo-file (/proc/cpuinfo) says 0 bytes yet reads some: taken by
    // its size it would pass for empty.
    char probe;
    if (size_ == 0 && std::fread(&probe, 1, 1, file_) == 1)
        throw IoError(path_,
                      "its size says 0 bytes, yet it reads bytes (a pseudo-file): copy it to a "
                      "regular file first");
}

InputFile::~InputFile() {
    if (file_) std::fclose(file_);
}

void InputFile::readAt(std::int64_t offset, char* destination, std::int64_t length) const {
    for (std::int64_t got = 0; got < length;) {
        ssize_t read = ::pread(fileno(file_), destination + got, static_cast<std::size_t>(length - got),
                               static_cast<off_t>(offset + got));
        if (read < 0 && errno == EINTR) continue;
        if (read < 0) throw IoError(path_, systemReason());
        if (read == 0)
            throw IoError(path_, "file shrank while being read (got " + std::to_string(got) + " of " +
                                     std::to_string(length) + " bytes at offset " + std::to_string(offset) +
                                     ")");
        got += read;
    }
}

void InputFile::close() {
    std::FILE* file = file_;
    file_ = nullptr;
    if (file && std::fclose(file) != 0) throw IoError(path_, systemReason());
}

ByteBuffer allocateBytes(std::int64_t size) {
    // new char[] leaves the bytes uninitialised: no pass over a buffer that
    // the next read fills anyway.
    return ByteBuffer{std::unique_ptr<char[]>(new char[static_cast<std::size_t>(size) + 1]), size};
}

BufferedWriter::BufferedWriter(int descriptor, std::string path, std::string failure)
    : descriptor_(descriptor),
      path_(std::move(path)),
      failure_(std::move(failure)),
      buffer_(new char[BufferSize]) {}

void BufferedWriter::writeAll(const char* bytes, std::size_t length) {
    written_ += static_cast<std::int64_t>(length);
    while (length > 0) {
        ssize_t written = ::write(descriptor_, bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) throw IoError(path_, failure_ + systemReason());
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    if (writebackStep_ > 0 && written_ - writebackFrom_ >= writebackStep_) {
        // Only a hint: a pipe or a device refuses it, and the sync at the
        // end tells any failure to write.
        sync_file_range(descriptor_, writebackFrom_, written_ - writebackFrom_, SYNC_FILE_RANGE_WRITE);
        writebackFrom_ = written_;
    }
}

void BufferedWriter::flush() {
    writeAll(buffer_.get(), used_);
    used_ = 0;
}

void BufferedWriter::finish() {
    flush();
    buffer_.reset();
}

void BufferedWriter::write(std::string_view bytes) {
    if (bytes.size() > BufferSize - used_) {
        flush();
        // A large block goes out as it is, without a copy.
        if (bytes.size() >= BufferSize / 2) return writeAll(bytes.data(), bytes.size());
    }
    std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
}
