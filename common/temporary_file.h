// Temporary files in a folder: unnamed (O_TMPFILE) where the file system
// allows it, so that no end of the process leaves one behind, and otherwise
// made under a fresh name that the signal cleanup knows.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "common/file_io.h"
#include "common/signal_cleanup.h"

// The folder of a path: "." for a bare name, "/" for one in the root.
std::string folderOf(const std::string& path);
// The folder for an output's temporary files: the output's own, or /tmp
// when the output exists and is not a regular file (/dev/null).
std::string temporaryFolderFor(const std::string& outputPath);
// TMPDIR when it is set (node-local disk on a cluster), else
// temporaryFolderFor.
std::string temporaryFolderOrTmpdir(const std::string& outputPath);

// An unnamed file in the folder opened with `flags` (O_WRONLY or O_RDWR),
// or -1 with errno set; unnamedUnsupported(errno) then tells a file system
// without O_TMPFILE.
int openUnnamed(const std::string& folder, int flags, mode_t mode);
bool unnamedUnsupported(int error);

// ".ngram-" and ten random letters or digits in the folder.
std::string freshNameIn(const std::string& folder);

// Makes a file under a fresh name in the folder with `create(name)`. The
// name is listed for the signal cleanup before the file exists, so no
// signal can fall between the two. Returns the name, or "" with errno set.
template <typename Create>
std::string createUnderFreshName(const std::string& folder, int& slot, Create create) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = freshNameIn(folder);
        slot = rememberTemporaryFile(name.c_str());
        if (create(name)) return name;
        int error = errno;
        forgetTemporaryFile(slot);
        slot = -1;
        errno = error;
        if (error != EEXIST) return {};
    }
    return {};
}

// A file that lives as long as this object: written through a buffer, then
// read at any offset. Failures are IoErrors naming the folder.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& folder);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    void write(const char* bytes, std::size_t length) { out_.write({bytes, length}); }
    // Writes out what is buffered and frees the buffer: a finished run is
    // only read.
    void finish() { out_.finish(); }
    // Reads up to `length` bytes at `offset` (of what was flushed); returns
    // how many.
    std::size_t readAt(std::int64_t offset, char* destination, std::size_t length) const;
    std::int64_t size() const { return out_.size(); }

private:
    static int create(const std::string& folder);
    std::string folder_;
    int fd_;
    BufferedWriter out_;
};
