"""A count file's entries found a block at a time, with numpy over an mmap.

Most lines of a count file are simple entries: ';', a few digits and CR LF
(or LF) at their end. Those are found and read for a whole block at once:
the LFs by one comparison, then the bytes before every LF together. Most
other lines are the front parts of texts cut by an LF of their own, told by
having no ';', also found together. The few left (a sign, blanks or more
than 18 digits after the last ';', a ';' in a text cut by its LF) are read
one by one by the rule in format.py, so the result is the rule's on every
file. Blocks are read on a few threads: numpy lets go of the interpreter
while it works.
"""

import collections
import concurrent.futures
import mmap
import os
import stat

import numpy as np

from .format import CountFileError, line_entry, unfinished_text

BLOCK_BYTES = 1 << 24

# A count of more digits than this may pass 64 bits: the rule reads it.
_MOST_DIGITS = 18
_WEIGHTS = 10 ** np.arange(_MOST_DIGITS, dtype=np.int64)
# How far back from its end a line is searched for a ';' before the rest
# of it is left to the rule.
_SEPARATOR_REACH = 32
_LF, _CR, _SEMICOLON, _ZERO = 10, 13, 59, 48


class Block:
    """The entries that end in one block of lines, in file order. `counts`
    are their counts; their positions in the file are worked out when
    asked for: separators() of the last ';' on each entry's line, ends()
    after its LF (or at the end of the file), line_starts() of its line,
    text_starts() of its text, which begins after the entry before (at
    `start` for the first, possibly in an earlier block). `lines` is the
    number of LFs in the block, `first_line` the number of its first line."""

    def __init__(self, position, size, lines, line_ends, separators, values, is_entry):
        self.position, self.size, self.lines = position, size, lines
        self._line_ends, self._separators, self._is_entry = line_ends, separators, is_entry
        self.counts = values[is_entry]
        self.start = 0
        self.first_line = 1

    def separators(self):
        return self._separators[self._is_entry] + self.position

    def ends(self):
        return np.minimum(self._line_ends[self._is_entry] + 1, self.size) + self.position

    def line_starts(self):
        starts = np.empty_like(self._line_ends)
        starts[:1] = 0
        starts[1:] = self._line_ends[:-1] + 1
        return starts[self._is_entry] + self.position

    def text_starts(self):
        return np.concatenate((np.array([self.start], np.int64), self.ends()[:-1]))

    def last_entry_line(self):
        return self.first_line + int(np.flatnonzero(self._is_entry)[-1])


class CountFile:
    """A count file mapped into memory: `data` (the mmap, for slicing texts)
    and `bytes` (the same bytes as a numpy array). Use it in a with block."""

    def __init__(self, path):
        self.path = os.fspath(path)
        info = os.stat(self.path)
        if not stat.S_ISREG(info.st_mode):
            raise CountFileError(self.path, "not a regular file: a count file is read by its size")
        self.size = info.st_size
        self.data = None
        self.bytes = np.zeros(0, np.uint8)
        with open(self.path, "rb") as file:
            if self.size == 0:
                if file.read(1):
                    raise CountFileError(self.path, "its size says 0 bytes, yet it reads bytes (a pseudo-file)")
                return
            self.data = mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ)
        self.bytes = np.frombuffer(self.data, np.uint8)

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def close(self):
        self.bytes = None
        if self.data is not None:
            try:
                self.data.close()
            except BufferError:  # a view of it is still held: it closes with the view
                pass
            self.data = None

    def blocks(self):
        """The Blocks of the file that hold entries, in order, of about
        BLOCK_BYTES each; checks at the end that no text is left without
        its count (unfinished_text)."""
        threads = min(4, os.cpu_count() or 1)
        line = 1  # the number of the next block's first line
        entry_end, entry_line = 0, 0  # after the last entry found, and its line
        for scanned in self._scanned(BLOCK_BYTES, threads):
            try:
                block = scanned.result()
            except CountFileError as error:  # its line counted from the block's first
                raise CountFileError(self.path, error.reason, line + error.line - 1) from None
            block.first_line, block.start = line, entry_end
            line += block.lines
            if block.counts.size:
                entry_end, entry_line = int(block.ends()[-1]), block.last_entry_line()
                yield block
        for position in range(entry_end, self.size, BLOCK_BYTES):
            tail = self.bytes[position:position + BLOCK_BYTES]
            if np.any((tail != _LF) & (tail != _CR)):
                raise unfinished_text(self.path, entry_line + 1)

    def _scanned(self, block_bytes, threads):
        """The blocks being read, in order, a few ahead on the threads."""
        with concurrent.futures.ThreadPoolExecutor(threads) as pool:
            pending = collections.deque()
            for position, stop in self._block_bounds(block_bytes):
                pending.append(pool.submit(_scan, self, position, stop))
                if len(pending) > threads:
                    yield pending.popleft()
            while pending:
                yield pending.popleft()

    def _block_bounds(self, block_bytes):
        """[position, stop) of each block: a block ends after the last LF
        within block_bytes, after the first LF beyond for a longer line,
        or at the end of the file."""
        position = 0
        while position < self.size:
            stop = position + block_bytes
            if stop >= self.size:
                stop = self.size
            else:
                last = self.data.rfind(b"\n", position, stop)
                if last < 0:
                    last = self.data.find(b"\n", stop)
                stop = self.size if last < 0 else last + 1
            yield position, stop
            position = stop


def _scan(counts_file, position, stop):
    """The Block of the lines in [position, stop), which starts a line and
    ends after an LF or at the end of the file. A CountFileError names its
    line counted from the block's first."""
    segment = counts_file.bytes[position:stop]
    line_ends = np.flatnonzero(segment == _LF)
    lines = line_ends.size
    if stop == counts_file.size and (lines == 0 or line_ends[-1] != segment.size - 1):
        line_ends = np.append(line_ends, segment.size)  # the last line, which has no LF
    separators, values, is_entry, longer, others = _read_short_counts(segment, line_ends)
    others.append(_read_long_counts(segment, longer, separators, values, is_entry))
    for index in _with_separator(segment, line_ends, np.concatenate(others)).tolist():
        start = int(line_ends[index - 1]) + 1 if index else 0
        end = int(line_ends[index])
        found = line_entry(counts_file.data[position + start:position + end], counts_file.path, index + 1)
        if found is not None:
            separators[index] = start + found[0]
            values[index] = found[1]
            is_entry[index] = True
    return Block(position, segment.size, lines, line_ends, separators, values, is_entry)


def _read_short_counts(segment, line_ends):
    """Reads the lines that end in ';', one digit and CR LF or LF, the most
    common by far. Returns (separators, values, is_entry) for every line,
    set for those, the lines that end in two digits (their separators hold
    the position of the digit before the last, their values the last) and
    a list of the other lines."""
    take = segment.take
    last = line_ends - 1
    separators = last - (take(last, mode="clip") == _CR)  # the last digit, if any
    # Clipped reads before the segment's start read its first byte, which
    # is then a CR or LF (an empty first line) or the digit itself.
    digit = take(separators, mode="clip")
    separators -= 1
    before = take(separators, mode="clip")
    digit -= _ZERO
    ends_in_digit = digit < 10
    is_entry = ends_in_digit & (before == _SEMICOLON)
    before -= _ZERO
    longer = ends_in_digit & (before < 10)
    others = np.flatnonzero(~(is_entry | longer))
    return separators, digit.astype(np.int64), is_entry, np.flatnonzero(longer), [others]


def _read_long_counts(segment, lines, separators, values, is_entry):
    """Reads the lines that end in two digits or more: up to _MOST_DIGITS
    after a ';'. Returns the lines that turn out to be neither."""
    at = separators[lines]
    value = values[lines]
    others = []
    for k in range(1, _MOST_DIGITS + 1):
        inside = at >= 0
        byte = segment.take(at, mode="clip")
        done = inside & (byte == _SEMICOLON)
        found = lines[done]
        separators[found], values[found], is_entry[found] = at[done], value[done], True
        digit = inside & ((byte - _ZERO) < 10) & (k < _MOST_DIGITS)
        others.append(lines[~(digit | done)])
        lines, at, value, byte = lines[digit], at[digit], value[digit], byte[digit]
        if not lines.size:
            break
        value += (byte - _ZERO).astype(np.int64) * _WEIGHTS[k]
        at -= 1
    return np.concatenate(others + [lines])


def _with_separator(segment, line_ends, lines):
    """Those of the lines that hold a ';', or are too long to tell at once,
    in order: a line without one is no entry (most often the front part of
    a text cut by its own LF)."""
    at = line_ends[lines] - 1
    kept = [lines[:0]]
    for _ in range(_SEPARATOR_REACH):
        if not lines.size:
            break
        inside = at >= 0
        byte = segment.take(at, mode="clip")
        found = inside & (byte == _SEMICOLON)
        kept.append(lines[found])
        going = inside & ~found & (byte != _LF)
        lines, at = lines[going], at[going] - 1
    kept.append(lines)
    return np.sort(np.concatenate(kept))
