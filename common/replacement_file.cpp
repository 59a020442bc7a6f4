#include "common/replacement_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/io_error.h"
#include "common/signal_cleanup.h"
#include "common/temporary_file.h"

namespace {

[[noreturn]] void fail(const std::string& path, int error) { throw IoError(path, std::strerror(error)); }

// The file a chain of symbolic links ends at; it need not exist yet.
std::string resolveLinks(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {  // the kernel's own limit
        struct stat status;
        if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
        std::string target(PATH_MAX, '\0');
        ssize_t length = readlink(current.c_str(), target.data(), target.size());
        if (length < 0) throw IoError(path, systemReason());
        target.resize(static_cast<std::size_t>(length));
        current = target.front() == '/' ? target : folderOf(current) + "/" + target;
    }
    fail(path, ELOOP);
}

// "/dev/stdout" redirected to a file: replacing that file would take it away
// from the console that is still writing into it.
bool isConsole(const struct stat& file) {
    for (int descriptor : {0, 1, 2}) {
        struct stat console;
        if (fstat(descriptor, &console) == 0 && console.st_dev == file.st_dev &&
            console.st_ino == file.st_ino)
            return true;
    }
    return false;
}

}  // namespace

ReplacementFile::ReplacementFile(const std::string& path, Temporary temporary)
    : ReplacementFile(path, temporary, Use::Write) {}

ReplacementFile::ReplacementFile(const std::string& path, Temporary temporary, Use use) : path_(path) {
    try {
        open(temporary, use);
    } catch (...) {
        discard();
        throw;
    }
}

ReplacementFile::~ReplacementFile() { discard(); }

// The temporary file is made and dropped again: only its creation tells
// everything that could refuse it (a missing folder, one that may not be
// written, a read-only file system, a full inode table).
void ReplacementFile::checkCanBeMade(const std::string& path) {
    ReplacementFile probe(path, Temporary::UnnamedWherePossible, Use::Check);
}

void ReplacementFile::discard() {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
    forgetTemporaryFile(slot_);
    slot_ = -1;
}

void ReplacementFile::open(Temporary temporary, Use use) {
    if (path_.empty()) fail(path_, ENOENT);
    if (path_.back() == '/') fail(path_, EISDIR);
    struct stat status;
    int existingMode = -1;
    if (stat(path_.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) fail(path_, EISDIR);
        if (!S_ISREG(status.st_mode) || isConsole(status)) {
            if (use == Use::Write) return openDirectly();
            if (access(path_.c_str(), W_OK) != 0) throw IoError(path_, systemReason());
            return;
        }
        // A file that may not be written must not be replaced either.
        if (access(path_.c_str(), W_OK) != 0) throw IoError(path_, systemReason());
        existingMode = static_cast<int>(status.st_mode & 07777);
    } else if (errno != ENOENT) {
        throw IoError(path_, systemReason());
    }
    openTemporaryBeside(resolveLinks(path_), existingMode, temporary);
}

void ReplacementFile::openDirectly() {
    descriptor_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor_ < 0) throw IoError(path_, systemReason());
}

void ReplacementFile::openTemporaryBeside(const std::string& target, int existingMode, Temporary temporary) {
    target_ = target;
    const std::string folder = folderOf(target);
    const mode_t mode = existingMode >= 0 ? static_cast<mode_t>(existingMode) : 0666;
    // An unnamed file leaves nothing behind whatever kills the program; it
    // gets its name through /proc at the end, so without /proc it cannot be
    // used. File systems without O_TMPFILE refuse with one of these errors.
    if (temporary == Temporary::UnnamedWherePossible && access("/proc/self/fd", X_OK) == 0) {
        descriptor_ = openUnnamed(folder, O_WRONLY, mode);
        unnamed_ = descriptor_ >= 0;
        const int error = errno;
        if (!unnamed_ && !unnamedUnsupported(error)) {
            std::string reason = std::strerror(error);
            if (error == EACCES && existingMode >= 0) reason += " (the new file is made in its folder first)";
            throw IoError(path_, reason);
        }
    }
    if (!unnamed_) {
        temporary_ = createUnderFreshName(folder, slot_, [&](const std::string& name) {
            descriptor_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            return descriptor_ >= 0;
        });
        if (descriptor_ < 0) throw IoError(path_, systemReason());
    }
    // The creation mode went through the umask; a replaced file keeps its
    // bits exactly.
    if (existingMode >= 0 && fchmod(descriptor_, mode) != 0) throw IoError(path_, systemReason());
}

void ReplacementFile::commit() {
    if (target_.empty()) return closeDescriptor();
    // The bytes reach the disk before the name moves to them: a crash right
    // after the rename must not leave an empty file where the old one was.
    // An OutputFile has the disk start on every 32 MiB as they are written,
    // so this waits for what the disk has not caught up with.
    if (fsync(descriptor_) != 0) throw IoError(path_, systemReason());
    if (unnamed_) linkIn();
    closeDescriptor();
    if (rename(temporary_.c_str(), target_.c_str()) != 0) throw IoError(path_, systemReason());
    temporary_.clear();
    forgetTemporaryFile(slot_);
    slot_ = -1;
}

// An unnamed file cannot be renamed over the target, and linkat will not
// replace one: it gets a temporary name first, for the moment until the
// rename.
void ReplacementFile::linkIn() {
    const std::string self = "/proc/self/fd/" + std::to_string(descriptor_);
    temporary_ = createUnderFreshName(folderOf(target_), slot_, [&](const std::string& name) {
        return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
    if (temporary_.empty()) throw IoError(path_, systemReason());
}

void ReplacementFile::closeDescriptor() {
    int descriptor = descriptor_;
    descriptor_ = -1;
    if (::close(descriptor) != 0) throw IoError(path_, systemReason());
}
