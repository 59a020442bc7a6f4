"""A count file's entries and counts, read by the rule of format.py."""

import itertools
import os

import numpy as np

from .format import CountFileError
from .scan import CountFile
from .texts import block_texts


def read_counts(path):
    """Every entry of the count file as a (text, count) pair, in file order.

    The texts are bytes as counted (an LF inside one comes back as LF), the
    counts ints. Reads the file a block at a time, so a file of any size
    needs a few tens of MB. Raises CountFileError (a ValueError) naming the
    path and line for a count beyond 64 bits or a text that no count
    follows at the end of the file, and not a regular file."""
    # Flattened by chain, in C: a generator resumed for every entry would
    # cost a sixth of the time.
    return itertools.chain.from_iterable(_entries_by_block(path))


# One text in so many is kept while the file is read (see below).
_PINNED_EVERY = 1024


def _entries_by_block(path):
    # The texts of a block are small objects, which CPython keeps in arenas
    # of 1 MiB that it hands back to the kernel once they are empty: the
    # texts of every block would fault in fresh memory, which took half the
    # time. A few texts of the largest block so far are kept for as long as
    # the file is read, so the arenas that held that block stay for the next.
    pinned, most = [], 0
    with CountFile(path) as counts_file:
        for block in counts_file.blocks():
            texts = block_texts(counts_file.data, block)
            if len(texts) > most:
                most = len(texts)
                pinned.append(texts[::_PINNED_EVERY])
            yield zip(texts, block.counts.tolist())


def count_arrays(path):
    """The counts of the count file's entries as int64 numpy arrays, a block
    at a time, in file order."""
    with CountFile(path) as counts_file:
        for block in counts_file.blocks():
            yield block.counts


class CountOfCounts:
    """How many entries have each count, gathered an array at a time: small
    counts in a bincount, the others in a dict."""

    SMALL = 1 << 16

    def __init__(self):
        self.small = np.zeros(self.SMALL, np.int64)
        self.other = {}

    def add(self, values):
        if values.min() < 0 or values.max() >= self.SMALL:
            small = (values >= 0) & (values < self.SMALL)
            keys, numbers = np.unique(values[~small], return_counts=True)
            for key, number in zip(keys.tolist(), numbers.tolist()):
                self.other[key] = self.other.get(key, 0) + number
            values = values[small]
        numbers = np.bincount(values)
        self.small[:numbers.size] += numbers

    def items(self):
        """(value, number of entries) for every value that occurs, ascending."""
        merged = dict(self.other)
        for value in np.flatnonzero(self.small).tolist():
            merged[value] = int(self.small[value])
        return sorted(merged.items())


def histogram(path, bucket):
    """distribution's histogram: (bucket index, number of entries) pairs in
    ascending order of index, where an entry's bucket is its count divided
    by `bucket`, truncated toward zero. distribution writes each pair as
    "index;number" and CR LF.

    Raises ValueError for a bucket size of 0 or beyond 64 bits, and
    CountFileError as read_counts does and for the one quotient beyond 64
    bits (the smallest count divided by -1)."""
    bucket = int(bucket)
    if bucket == 0 or not -(1 << 63) <= bucket < (1 << 63):
        raise ValueError(f"bucket size {bucket} must be a whole number other than 0 that fits in 64 bits")
    buckets = CountOfCounts()
    for counts in count_arrays(path):
        if bucket == -1 and counts.size and counts.min() == np.iinfo(np.int64).min:
            raise CountFileError(os.fspath(path), f"the count {counts.min()} divided by the bucket size -1 "
                                 "does not fit in 64 bits")
        buckets.add(_truncated_quotient(counts, bucket))
    return buckets.items()


def _truncated_quotient(counts, bucket):
    """counts / bucket truncated toward zero, as C++ divides."""
    if bucket == 1:
        return counts
    quotient = counts // bucket
    # Floor division rounds down; truncation rounds a negative quotient up.
    quotient += ((counts % bucket) != 0) & ((counts < 0) != (bucket < 0))
    return quotient
