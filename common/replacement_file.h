// The file descriptor an output is written through, so that an output is
// never half-written. A regular file, or a path that names nothing yet, is
// written as a new temporary file in the same folder and put in its place
// only by commit(), after fsync and close succeeded: until then, and after
// any failure, the path holds exactly what it held before (nothing, or the
// old bytes and mode). Devices, FIFOs, terminals and the program's own
// console are written directly, as they cannot be replaced.
//
// A symbolic link stays a link: the file it points to is replaced. A
// replaced file keeps its permission bits; a new one gets 0666 less the
// umask. A replaced file's other hard links keep the old bytes.
#pragma once

#include <string>

class ReplacementFile {
public:
    // Named is what file systems without O_TMPFILE get; chosen, for tests.
    enum class Temporary { UnnamedWherePossible, Named };
    // Throws IoError naming the path when it cannot be written.
    explicit ReplacementFile(const std::string& path, Temporary temporary = Temporary::UnnamedWherePossible);
    // Throws what the constructor would, so that a run can learn before its
    // work that the output cannot be made. Leaves nothing behind and opens
    // no device or FIFO (one would block, a console file would be emptied).
    static void checkCanBeMade(const std::string& path);
    // Without commit(), the temporary file goes and the path stays as it was.
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    int descriptor() const { return descriptor_; }
    // Puts the written file in place of the path. Throws IoError on failure.
    void commit();

private:
    enum class Use { Write, Check };
    ReplacementFile(const std::string& path, Temporary temporary, Use use);
    void open(Temporary temporary, Use use);
    void openDirectly();
    void openTemporaryBeside(const std::string& target, int existingMode, Temporary temporary);
    void linkIn();
    void closeDescriptor();
    void discard();

    std::string path_;       // as given, for messages
    std::string target_;     // the file to replace; empty when written directly
    std::string temporary_;  // the temporary file's name, once it has one
    int slot_ = -1;          // its slot in the signal cleanup
    int descriptor_ = -1;
    bool unnamed_ = false;  // an O_TMPFILE file, linked in at commit()
};
