"""The counts of given n-grams, found by binary search over the file's bytes.

A count file's entries are in ascending byte order of their texts (bytes as
unsigned values, a text before every longer text it begins: the order of
Python's bytes), so an n-gram is found in about log2(size) steps. A step
lands on an offset, goes back to the start of its line, reads on to the end
of the first line that is an entry (by format.py's rule) and reads the entry
after it: an entry always starts right after an entry's line.
"""

import numpy as np

from .format import CountFileError, entry_text, line_entry
from .scan import CountFile

# Below this many bytes between the bounds, the entries are read in turn.
_SCAN_BYTES = 4096


def find(path, ngrams):
    """The count of each n-gram (bytes, as counted: an LF inside one is an
    LF) in the count file, in the order asked; 0 for one that is absent.

    Raises CountFileError when the entries a search reads (on its way and
    around where it stops) are out of order: the file is not sorted, and
    the answer could be wrong. Only those entries are checked, not the
    whole file."""
    if isinstance(ngrams, (bytes, bytearray, str)):
        raise TypeError("find takes a list of n-grams, not one n-gram")
    ngrams = list(ngrams)
    for ngram in ngrams:
        if not isinstance(ngram, (bytes, bytearray)):
            raise TypeError(f"an n-gram is bytes, not {type(ngram).__name__}: "
                            "encode it as the corpus is encoded")
    with CountFile(path) as counts_file:
        if counts_file.size == 0:
            return [0] * len(ngrams)
        search = _Search(counts_file)
        return [search.count_of(bytes(ngram)) for ngram in ngrams]


class _Search:
    def __init__(self, counts_file):
        self.file = counts_file
        self.data = counts_file.data
        self.size = counts_file.size

    def count_of(self, key):
        # Every entry that starts before `low` has a smaller text, the last
        # of them `low_text`; every entry that starts at `high` or later a
        # greater one, the first of them `high_text`.
        low, high = 0, self.size
        low_text = high_text = None
        while high - low > _SCAN_BYTES:
            middle = (low + high) // 2
            start = self._entry_after(middle)
            if start >= high:
                # No entry starts after middle and before high.
                high = middle + 1
                continue
            text, count, end = self._entry_at(start)
            self._check_between(low_text, text, high_text, start)
            if text == key:
                return self._checked(start, text, end, count)
            if text < key:
                low, low_text = end, text
            else:
                high, high_text = start, text
        # Read on from low to the first text not below the key.
        position, previous = low, low_text
        while True:
            found = self._entry_at(position)
            if found is None:
                return 0
            text, count, end = found
            self._check_between(previous, text, high_text if position < high else None, position)
            if text >= key:
                return self._checked(position, text, end, count if text == key else 0)
            position, previous = end, text

    def _checked(self, start, text, end, answer):
        """The answer, once the entries before and after the one a search
        stopped at are found in order around it."""
        before = self._entry_before(start)
        if before is not None:
            self._check_between(before, text, None, start)
        after = self._entry_at(end)
        if after is not None:
            self._check_between(text, after[0], None, end)
        return answer

    def _entry_before(self, start):
        """The text of the entry that ends where `start` begins; None at
        the start of the file."""
        if start == 0:
            return None
        line = self.data.rfind(b"\n", 0, start - 1) + 1  # that entry's line
        while line > 0:
            previous = self.data.rfind(b"\n", 0, line - 1) + 1
            if self._line_entry(previous, line - 1) is not None:
                break
            line = previous
        return self._entry_at(line)[0]

    def _entry_after(self, offset):
        """The start of the entry after the first entry line that ends at
        or after the line holding offset; the file's size if none."""
        line = self.data.rfind(b"\n", 0, offset) + 1
        while line < self.size:
            end = self._line_end(line)
            if self._line_entry(line, end) is not None:
                return end + 1
            line = end + 1
        return self.size

    def _entry_at(self, start):
        """(text, count, end) of the entry whose text starts at `start`; None
        when no entry ends before the end of the file."""
        line = start
        while line < self.size:
            end = self._line_end(line)
            found = self._line_entry(line, end)
            if found is not None:
                separator, count = found
                raw = self.data[start:line + separator]
                return (entry_text(raw) if line > start else raw), count, min(end + 1, self.size)
            line = end + 1
        return None

    def _line_end(self, line):
        end = self.data.find(b"\n", line)
        return self.size if end < 0 else end

    def _line_entry(self, line, end):
        try:
            return line_entry(self.data[line:end])
        except CountFileError as error:
            raise CountFileError(self.file.path, error.reason, self._number_of_line(line)) from None

    def _check_between(self, low_text, text, high_text, start):
        if (low_text is not None and text <= low_text) or (high_text is not None and text >= high_text):
            raise CountFileError(self.file.path, "the entries are not in byte order of their texts, "
                                 "so they cannot be searched", self._number_of_line(start))

    def _number_of_line(self, offset):
        return int(np.count_nonzero(np.frombuffer(self.data, np.uint8, offset) == 10)) + 1
