"""The texts of a block's entries as bytes objects, made in bulk.

A bytes object made for one entry at a time, by slicing the file or by a
numpy array's tolist(), costs more than all the rest of reading it. So the
block's bytes are copied with numpy into the texts alone, each followed by
one byte that occurs nowhere in the block, and bytes.split makes every text
at once: the ';', count and line end after each text become that byte, and
the CR of each CR LF inside a text is left out (the LF written as CR LF).
Only a text that begins in an earlier block is sliced on its own, and a
block that holds every byte value has all its texts sliced one by one.
"""

import numpy as np

from .format import entry_text

_CR, _LF = 13, 10
# Tried in turn as the byte between texts before the block's bytes are
# counted: a NUL or 0xFF is in few count files.
_FIRST_CHOICES = (0, 0xFF)


def block_texts(data, block):
    """The texts of the block's entries, in order; `data` is the file."""
    starts = block.text_starts()
    separators = block.separators()
    ends = block.ends()
    texts = []
    first = 0
    if starts[0] < block.position:  # began in an earlier block
        texts.append(entry_text(data[int(starts[0]):int(separators[0])]))
        first = 1
    if first == starts.size:
        return texts
    origin = int(starts[first])
    region = np.frombuffer(data, np.uint8, int(ends[-1]) - origin, origin)
    between = _absent_byte(region)
    if between is None:
        texts += [entry_text(data[start:end])
                  for start, end in zip(starts[first:].tolist(), separators[first:].tolist())]
        return texts
    separators = separators[first:] - origin
    ends = ends[first:] - origin
    # dropped[i] is 1 for a byte left out: after each ';' up to the end of
    # its entry's line, and the CR before each LF that is inside a text.
    dropped = np.zeros(region.size + 1, np.int8)
    dropped[separators + 1] = 1
    dropped[ends] -= 1
    dropped = np.cumsum(dropped, dtype=np.int8)[:-1]
    inner = block.line_ends[~block.is_entry] + (block.position - origin)
    inner = inner[(inner > 0) & (inner < region.size)] - 1
    dropped[inner[region[inner] == _CR]] = 1
    kept = region.copy()
    kept[separators] = between
    kept = kept[dropped == 0]
    texts += kept.tobytes().split(bytes((between,)))[:-1]
    return texts


def _absent_byte(region):
    """A byte value that `region` does not hold, or None if it holds all."""
    for value in _FIRST_CHOICES:
        if not np.count_nonzero(region == value):
            return value
    missing = np.flatnonzero(np.bincount(region, minlength=256) == 0)
    return int(missing[0]) if missing.size else None
