// The list forms of tallomer-part: many inputs or parts asked of one
// process, so that a workflow plans and counts thousands of small inputs
// without starting a program for each.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "counting/count_request.h"
#include "tallomer-part/input_cuts.h"

// A line of a list file and its number (from 1).
struct ListLine {
    std::int64_t number;
    std::string text;
};
// The lines of a list file ("-": standard input), one entry a line: a CR
// before the LF is dropped, empty lines are skipped, and a last line
// without LF is taken. Throws IoError naming the list.
std::vector<ListLine> readListLines(const std::string& list);

// A modification time as `stat -c %.9Y` writes it: seconds since 1970, a
// point and nine digits (-0.250000000 for a quarter second before).
std::string modificationTimeText(const struct timespec& time);

// What `tallomer-part MODE N @LIST` answers of one listed path, on one line:
//   ANSWER SIZE MTIME DEVICE:INODE PATH
// ANSWER is what `tallomer-part MODE N PATH` prints (the byte multiple or
// `whole`), SIZE and MTIME the file's stored size and modification time,
// DEVICE:INODE its identity (one file under two names has one), and PATH
// the path it is counted by: absolute, every link resolved. What is not a
// regular file (a FIFO, a device) is refused: it has no size or identity to
// plan by. Throws IoError naming the path as listed until it is resolved,
// and as resolved after.
std::string describeListedInput(const std::string& listed, Mode mode);

// One line of the counting list of `tallomer-part MODE N @LIST FOLDER`:
//   PART FROM TO INPUT
// the part file's name in FOLDER (no blank, no slash), the range as the
// counting form takes it, and the input, last and whole (it may hold
// blanks). `part` is the part file's path, FOLDER/PART.
struct ListedPart {
    std::string part;
    PartRange range;
    std::string input;
};
// Every line, checked before anything is counted. Throws IoError naming
// the list, with the line's number, when a line is not of that form.
std::vector<ListedPart> parseListedParts(const std::string& list, const std::string& folder,
                                         const std::vector<ListLine>& lines);
