"""The count file's format, read by the rule entropy and distribution read by.

A count file is split into lines at LF; a last line without LF counts too. A
line is an entry when the text after its last ';' starts with a number:
optional white space (blank, TAB, LF, VT, FF, CR), at most one sign, at least
one digit, ending at the first byte that is not a digit (so "5x" is 5). Any
other line is the front part of the next entry's text, cut off by an LF inside
that text; the writer wrote that LF as CR LF, so the CR before each such LF is
dropped again. An entry's text is thus the lines since the previous entry,
joined, and its own line up to its last ';'.
"""

import re

INT64_MIN = -(1 << 63)
INT64_MAX = (1 << 63) - 1

_NUMBER = re.compile(rb"[ \t\n\v\f\r]*([+-]?[0-9]+)")


class CountFileError(ValueError):
    """A file that is not a count file, or one that is damaged.

    `path` names the file and `line` the line (counted from 1) when one line
    is at fault, else None.
    """

    def __init__(self, path, reason, line=None):
        self.path = path
        self.line = line
        self.reason = reason
        where = f"{path}: line {line}" if line is not None else f"{path}"
        super().__init__(f"{where}: {reason}")


def line_entry(line, path="", number=None):
    """The entry a line ends (its bytes without the LF): (position of its
    last ';', count), or None for a line that is not an entry. A count
    beyond 64 bits raises CountFileError for that line."""
    separator = line.rfind(b";")
    if separator < 0:
        return None
    match = _NUMBER.match(line, separator + 1)
    if match is None:
        return None
    count = int(match.group(1))
    if not INT64_MIN <= count <= INT64_MAX:
        raise CountFileError(path, "the count does not fit in 64 bits", number)
    return separator, count


def entry_text(raw):
    """An entry's text from its bytes in the file (the lines since the
    previous entry and its own up to its last ';'): each line end inside it
    goes back to the LF it was written for."""
    if b"\n" not in raw:
        return raw
    return raw.replace(b"\r\n", b"\n")


def entries_of_bytes(data, path=""):
    """Every (text, count) of a whole count file held in `data`, line by
    line: the plain reading that the fast one in blocks must agree with."""
    entries = []
    start = 0  # of the current entry's text
    line_start = 0
    number = 1
    while line_start < len(data):
        line_end = data.find(b"\n", line_start)
        if line_end < 0:
            line_end = len(data)
        found = line_entry(data[line_start:line_end], path, number)
        if found is not None:
            separator, count = found
            entries.append((entry_text(data[start:line_start + separator]), count))
            start = line_end + 1
        line_start = line_end + 1
        number += 1
    if data[start:].strip(b"\r\n"):
        raise unfinished_text(path, number_of_line(data, start))
    return entries


def number_of_line(data, offset):
    """The number of the line that starts at `offset` of `data`."""
    return data.count(b"\n", 0, offset) + 1


def unfinished_text(path, line):
    """The error for bytes after the last entry other than blank lines: a
    text without its count, from a file cut short or not a count file."""
    return CountFileError(
        path, "the file ends inside an n-gram's text, which no count follows "
        "(a file cut short, or not a count file)", line)
