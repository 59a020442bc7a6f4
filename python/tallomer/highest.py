"""The entries of a count file with the highest counts."""

import numpy as np

from .format import entry_text
from .scan import CountFile


def top(path, k):
    """The k entries with the highest counts as (text, count) pairs, highest
    first, entries of equal count in file order: the count file's lines a
    program printing the top k would print, in that order. Fewer when the
    file has fewer entries. One pass; holds about k entries' positions
    besides a block."""
    if k <= 0:
        return []
    kept = _Kept()
    with CountFile(path) as counts_file:
        ordinal = 0  # of the block's first entry in the file
        for block in counts_file.blocks():
            counts = block.counts
            # An entry ties with a kept one only to lose: it comes later.
            chosen = np.arange(counts.size) if kept.size < k else np.flatnonzero(counts > kept.lowest())
            if chosen.size:
                starts = block.text_starts()
                kept.add(counts[chosen], chosen + ordinal, starts[chosen], block.separators()[chosen],
                         block.line_starts()[chosen])
                kept.keep_highest(k)
            ordinal += counts.size
        return [(_text(counts_file.data, start, separator, line_start), count)
                for count, start, separator, line_start in kept.rows()]


def _text(data, start, separator, line_start):
    raw = data[start:separator]
    return entry_text(raw) if start < line_start else raw


class _Kept:
    """The best entries so far: count, ordinal and the text's positions,
    each in a column."""

    def __init__(self):
        self.columns = [np.zeros(0, np.int64) for _ in range(5)]

    @property
    def size(self):
        return self.columns[0].size

    def lowest(self):
        return self.columns[0].min()

    def add(self, *columns):
        self.columns = [np.concatenate((old, new)) for old, new in zip(self.columns, columns)]

    def keep_highest(self, k):
        counts, ordinals = self.columns[0], self.columns[1]
        if counts.size > k:
            # The k-th highest count; those above it all stay, and of those
            # equal to it the earliest.
            threshold = np.partition(counts, counts.size - k)[counts.size - k]
            above = counts > threshold
            equal = np.flatnonzero(counts == threshold)
            above[equal[:k - int(np.count_nonzero(above))]] = True
            self.columns = [column[above] for column in self.columns]
            counts, ordinals = self.columns[0], self.columns[1]
        # Highest first (~ reverses the order of int64 without overflow),
        # then by ordinal.
        order = np.lexsort((ordinals, ~counts))
        self.columns = [column[order] for column in self.columns]

    def rows(self):
        counts, _, starts, separators, line_starts = (column.tolist() for column in self.columns)
        return zip(counts, starts, separators, line_starts)
