"""A count file's entries found a block at a time, with numpy.

Most lines of a count file are simple entries: ';', a few digits and CR LF
(or LF) at their end. Those are found and read for a whole block at once:
the LFs by one comparison, then the bytes before every LF together. Most
other lines are the front parts of texts cut by an LF of their own, told by
having no ';', also found together. The few left (a sign, blanks or more
than 18 digits after the last ';', a ';' in a text cut by its LF) are read
one by one by the rule in format.py, so the result is the rule's on every
file. Blocks of 2 MiB keep numpy's arrays of a block in the processor's
caches: 16 MiB blocks take three times as long.
"""

import ctypes
import mmap
import os
import stat
import threading

import numpy as np

from .format import CountFileError, line_entry, unfinished_text

BLOCK_BYTES = 1 << 21

# A count of more digits than this may pass 64 bits: the rule reads it.
_MOST_DIGITS = 18
_WEIGHTS = 10 ** np.arange(_MOST_DIGITS, dtype=np.int64)
# How far back from its end a line is searched for a ';' before the rest
# of it is left to the rule.
_SEPARATOR_REACH = 32
_LF, _CR, _SEMICOLON, _ZERO = 10, 13, 59, 48


def _keep_freed_memory():
    """Has glibc's malloc keep freed memory of up to 64 MiB for reuse. Every
    block allocates and frees arrays of up to a few MB; by default glibc
    hands them back to the kernel and faults them in afresh, which took
    four fifths of the reading's time."""
    try:
        mallopt = ctypes.CDLL(None).mallopt
    except (AttributeError, OSError):  # not glibc
        return
    m_trim_threshold, m_mmap_threshold = -1, -3
    mallopt(m_mmap_threshold, 32 << 20)
    mallopt(m_trim_threshold, 64 << 20)


_keep_freed_memory()


class Block:
    """The entries that end in one block of lines, in file order. `counts`
    are their counts; their positions in the file are worked out when
    asked for: separators() of the last ';' on each entry's line, ends()
    after its LF (or at the end of the file), line_starts() of its line,
    text_starts() of its text, which begins after the entry before (at
    `start` for the first, possibly in an earlier block). `lines` is the
    number of LFs in the block, `first_line` the number of its first line.

    While a block is read, every line has its slot in `line_ends` (relative
    to the block), `has_cr`, `is_entry` and `values`; a line's separator
    is 2 bytes before its LF (3 after a CR) unless found() says otherwise."""

    def __init__(self, position, size, lines, line_ends):
        self.position, self.size, self.lines, self.line_ends = position, size, lines, line_ends
        self.has_cr = self.is_entry = self.values = self.longer = self.counts = self.last = None
        self._found_lines, self._found_separators = [], []
        self.start = 0
        self.first_line = 1

    def found(self, lines, separators):
        """Marks lines as entries whose separators are not where a count of
        one digit puts them (their values are set already)."""
        self.is_entry[lines] = True
        self._found_lines.append(lines)
        self._found_separators.append(separators)

    def finish(self):
        self.counts = self.values[self.is_entry]
        self.values = self.longer = None
        if self.counts.size:  # the last entry's line: argmax finds the first True
            self.last = self.line_ends.size - 1 - int(np.argmax(self.is_entry[::-1]))

    def last_entry(self):
        """(the end of the block's last entry, its line number)."""
        return (min(int(self.line_ends[self.last]) + 1, self.size) + self.position,
                self.first_line + self.last)

    def separators(self):
        separators = self.line_ends - 2 - self.has_cr
        for lines, found in zip(self._found_lines, self._found_separators):
            separators[lines] = found
        return separators[self.is_entry] + self.position

    def ends(self):
        return np.minimum(self.line_ends[self.is_entry] + 1, self.size) + self.position

    def line_starts(self):
        starts = np.empty_like(self.line_ends)
        starts[:1] = 0
        starts[1:] = self.line_ends[:-1] + 1
        return starts[self.is_entry] + self.position

    def text_starts(self):
        return np.concatenate((np.array([self.start], np.int64), self.ends()[:-1]))


class CountFile:
    """A count file open for reading: `data`, the file mapped into memory
    (for texts and search), and its blocks read into buffers of their own
    (faster to scan than the mapping). Use it in a with block."""

    def __init__(self, path):
        self.path = os.fspath(path)
        info = os.stat(self.path)
        if not stat.S_ISREG(info.st_mode):
            raise CountFileError(self.path, "not a regular file: a count file is read by its size")
        self.size = info.st_size
        self.data = None
        self.file = open(self.path, "rb", buffering=0)
        try:
            if self.size == 0:
                if self.file.read(1):
                    raise CountFileError(self.path, "its size says 0 bytes, yet it reads bytes "
                                         "(a pseudo-file)")
            else:
                self.data = mmap.mmap(self.file.fileno(), 0, access=mmap.ACCESS_READ)
        except BaseException:
            self.file.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def close(self):
        self.file.close()
        if self.data is not None:
            try:
                self.data.close()
            except BufferError:  # a view of it is still held: it closes with the view
                pass
            self.data = None

    def read(self, position, stop, buffer):
        """Reads bytes [position, stop) of the file into the start of
        `buffer` (a numpy array); returns them."""
        view = memoryview(buffer)[:stop - position]
        done = 0
        while done < view.nbytes:
            got = os.preadv(self.file.fileno(), [view[done:]], position + done)
            if got == 0:
                raise CountFileError(self.path, "the file shrank while being read")
            done += got
        return buffer[:stop - position]

    def blocks(self):
        """The Blocks of the file that hold entries, in order, of about
        BLOCK_BYTES each; checks at the end that no text is left without
        its count (unfinished_text)."""
        line = 1  # the number of the next block's first line
        entry_end, entry_line = 0, 0  # after the last entry found, and its line
        for position, stop in self._block_bounds(BLOCK_BYTES):
            try:
                block = _scan(self, position, stop)
            except CountFileError as error:  # its line counted from the block's first
                raise CountFileError(self.path, error.reason, line + error.line - 1) from None
            block.first_line, block.start = line, entry_end
            line += block.lines
            if block.counts.size:
                entry_end, entry_line = block.last_entry()
                yield block
        buffer = _buffer(_PAD + BLOCK_BYTES)[_PAD:]
        for position in range(entry_end, self.size, BLOCK_BYTES):
            tail = self.read(position, min(position + BLOCK_BYTES, self.size), buffer)
            if np.any((tail != _LF) & (tail != _CR)):
                raise unfinished_text(self.path, entry_line + 1)

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
    size = stop - position
    padded = _buffer(_PAD + size)
    counts_file.read(position, stop, padded[_PAD:])
    segment = padded[_PAD:_PAD + size]
    line_ends = np.flatnonzero(segment == _LF)
    lines = line_ends.size
    if stop == counts_file.size and (lines == 0 or line_ends[-1] != size - 1):
        line_ends = np.append(line_ends, size)  # the last line, which has no LF
    block = Block(position, size, lines, line_ends)
    others = _read_short_counts(padded, block)
    others.append(_read_long_counts(padded, block))
    rule_lines, rule_separators = [], []
    for index in _with_separator(padded, line_ends, np.concatenate(others)).tolist():
        start = int(line_ends[index - 1]) + 1 if index else 0
        found = line_entry(segment[start:line_ends[index]].tobytes(), counts_file.path, index + 1)
        if found is not None:
            rule_lines.append(index)
            rule_separators.append(start + found[0])
            block.values[index] = found[1]
    block.found(np.array(rule_lines, np.int64), np.array(rule_separators, np.int64))
    block.finish()
    return block


# Each block is read into its buffer after this many LF bytes: a walk back
# from a line's end stops there at the latest, and the bytes just before
# every LF are read by one take each from views shifted by 1, 2 and 3.
_PAD = 8
_buffers = threading.local()


def _buffer(size):
    """A buffer of at least `size` bytes that starts with _PAD LF bytes, the
    same one for each call on a thread: a Block keeps nothing of it."""
    buffer = getattr(_buffers, "buffer", None)
    if buffer is None or buffer.size < size:
        buffer = _buffers.buffer = np.empty(size, np.uint8)
        buffer[:_PAD] = _LF
    return buffer


def _read_short_counts(padded, block):
    """Reads the lines that end in ';', one digit and CR LF or LF, the most
    common by far, into the block; returns a list of the lines that are not
    that, but may be entries."""
    line_ends = block.line_ends
    before = [padded[_PAD - k:].take(line_ends) for k in (1, 2, 3)]
    block.has_cr = before[0] == _CR
    if block.has_cr.all():  # as tallomer writes them: no choosing needed
        digit, separator = before[1], before[2]
    else:
        digit = np.where(block.has_cr, before[1], before[0])
        separator = np.where(block.has_cr, before[2], before[1])
    digit -= _ZERO
    ends_in_digit = digit < 10
    block.is_entry = ends_in_digit & (separator == _SEMICOLON)
    block.values = digit.astype(np.int64)
    separator -= _ZERO
    longer = ends_in_digit & (separator < 10)
    block.longer = np.flatnonzero(longer)
    # An empty line (an LF or CR LF alone) is no entry: its "digit" is the
    # LF before it.
    others = ~(block.is_entry | longer) & (digit != (_LF - _ZERO) % 256)
    return [np.flatnonzero(others)]


def _read_long_counts(padded, block):
    """Reads the lines that end in 2 to _MOST_DIGITS digits after a ';' into
    the block; returns those that turn out not to."""
    lines = block.longer
    at = block.line_ends[lines] + (_PAD - 2) - block.has_cr[lines]  # the digit before the last
    value = block.values[lines]
    found_lines, found_at, others = [], [], []
    for k in range(1, _MOST_DIGITS + 1):
        byte = padded.take(at)
        done = byte == _SEMICOLON
        found_lines.append(lines[done])
        found_at.append(at[done])
        block.values[lines[done]] = value[done]
        digit = ((byte - _ZERO) < 10) & (k < _MOST_DIGITS)
        others.append(lines[~(digit | done)])
        lines, at, value, byte = lines[digit], at[digit], value[digit], byte[digit]
        if not lines.size:
            break
        value += (byte - _ZERO).astype(np.int64) * _WEIGHTS[k]
        at -= 1
    block.found(np.concatenate(found_lines), np.concatenate(found_at) - _PAD)
    return np.concatenate(others + [lines])


def _with_separator(padded, line_ends, lines):
    """Those of the lines that hold a ';', or are too long to tell at once,
    in order: a line without one is no entry (most often the front part of
    a text cut by its own LF)."""
    # The 8 bytes before each line end at once, the last the most
    # significant: the line holds a ';' there when the flags of its ';'
    # bytes outweigh those of its LF bytes (the one before the line, at
    # the latest). Lines with neither in those 8 bytes are walked back.
    words = np.ndarray((padded.size - 7,), "<u8", padded, strides=(1,))
    ends = line_ends[lines] + (_PAD - 8)
    last = words[ends]
    separators, line_starts = _flags(last, _SEMICOLON), _flags(last, _LF)
    kept = [lines[separators > line_starts]]
    longer = (separators | line_starts) == 0
    lines = lines[longer]
    at = ends[longer] - 1
    for _ in range(_SEPARATOR_REACH - 8):
        if not lines.size:
            break
        byte = padded.take(at)
        found = byte == _SEMICOLON
        kept.append(lines[found])
        going = ~found & (byte != _LF)
        lines, at = lines[going], at[going] - 1
    kept.append(lines)
    return np.sort(np.concatenate(kept))


_ONES, _LOW7 = np.uint64(0x0101010101010101), np.uint64(0x7F7F7F7F7F7F7F7F)


def _flags(words, byte):
    """The top bit of each byte of the words that equals `byte`, the rest 0."""
    differ = words ^ (_ONES * np.uint64(byte))
    return ~(((differ & _LOW7) + _LOW7) | differ | _LOW7)
