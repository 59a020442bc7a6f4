"""entropy's three figures of a count file, to the last bit of the sum."""

import ctypes
import ctypes.util
import math
import os
from typing import NamedTuple

import numpy as np

from .format import INT64_MAX, INT64_MIN, CountFileError
from .reading import count_arrays


class Entropy(NamedTuple):
    """The number of entries, the total of their counts, and the sum over
    them, in file order, of p * log2(p) with p = count / total."""

    distinct: int
    total: int
    sum: float

    def report(self):
        """The three lines entropy prints, each ended by LF."""
        return (f"Number of different NGrams: {self.distinct}\n"
                f"Total number of NGrams: {self.total}\n"
                f"Sum: {_six_digits(self.sum)}\n")


def entropy(path):
    """The figures entropy prints for the count file, read as it reads it:
    twice, first for the number of entries and the total, then for the sum.

    The total is made a float once; each term is log2(p) * p with the C
    library's log2, and the terms are added one by one in file order, so the
    sum is the program's to the last bit. A count of 0, a total of 0 or
    counts of both signs make it NaN. Raises CountFileError as read_counts
    does, when the total leaves 64 bits at any entry, and when the file
    changed between the two readings."""
    path = os.fspath(path)
    distinct, total = 0, 0
    for counts in count_arrays(path):
        distinct += counts.size
        total = _add_checked(total, counts, path)

    terms = _Terms(total)
    running = np.zeros(1)
    seen, seen_total = 0, 0
    for counts in count_arrays(path):
        # accumulate adds strictly left to right, as the program's loop does.
        running = np.add.accumulate(np.concatenate((running[-1:], terms.of(counts))))
        seen += counts.size
        seen_total += int(counts.sum(dtype=np.int64))
    seen_total = (seen_total - INT64_MIN) % (1 << 64) + INT64_MIN
    if (seen, seen_total) != (distinct, total):
        raise CountFileError(path, "the file changed while being read")
    return Entropy(distinct, total, float(running[-1]))


def _add_checked(total, counts, path):
    """total plus the counts, added in order: an error when the running
    total leaves 64 bits at any of them, as the program checks each one."""
    if counts.size * max(abs(int(counts.min())), abs(int(counts.max()))) < INT64_MAX:
        prefix = np.cumsum(counts)  # cannot wrap
        if INT64_MIN <= total + int(prefix.min()) and total + int(prefix.max()) <= INT64_MAX:
            return total + int(prefix[-1])
    for count in counts.tolist():
        total += count
        if not INT64_MIN <= total <= INT64_MAX:
            raise CountFileError(path, "the total of the counts does not fit in 64 bits")
    return total


class _Terms:
    """log2(p) * p for counts, each value worked out once in Python floats,
    which are the C++ program's doubles, with the C library's log2: numpy's
    own differs from it in the last bit for about one p in a hundred. Most
    counts are small, so those terms are kept in a table."""

    TABLE = 1 << 16

    def __init__(self, total):
        self.denominator = float(total)
        self.table = None

    def of(self, counts):
        if self.table is None:
            self.table = np.array([self._term(count) for count in range(self.TABLE)])
        small = (counts >= 0) & (counts < self.TABLE)
        terms = self.table[np.where(small, counts, 0)]
        if not small.all():
            values, where = np.unique(counts[~small], return_inverse=True)
            terms[~small] = np.array([self._term(value) for value in values.tolist()])[where]
        return terms

    def _term(self, count):
        p = float(count) / self.denominator if self.denominator else _divide(float(count), self.denominator)
        return _log2(p) * p


def _divide(numerator, denominator):
    """numerator / 0.0 as C divides: an infinity, or NaN for 0 / 0."""
    with np.errstate(all="ignore"):
        return float(np.float64(numerator) / np.float64(denominator))


def _find_log2():
    """The C library's log2, which the program calls: it alone gives the
    program's NaN for 0 and below. math.log2 is the same function for
    positive finite values."""
    name = ctypes.util.find_library("m")
    if name:
        function = ctypes.CDLL(name).log2
        function.restype = ctypes.c_double
        function.argtypes = [ctypes.c_double]
        return function
    return lambda x: float(np.log2(np.float64(x)))


_c_log2 = _find_log2()


def _log2(p):
    if p > 0 and math.isfinite(p):
        return math.log2(p)
    return _c_log2(p)


def _six_digits(value):
    """A double as C++ streams print it by default: six significant digits,
    and NaN with its sign."""
    if math.isnan(value):
        return "-nan" if math.copysign(1.0, value) < 0 else "nan"
    return "%g" % value
