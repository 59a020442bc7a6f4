"""The texts of a block's entries as bytes objects, made in bulk.

A bytes object sliced out of the file one entry at a time costs more than
all the rest of reading it. Most texts lie on one line and are short, so
they are gathered instead into the rows of a numpy array as wide as the
longest, zero padded, and that array viewed as fixed-width byte strings:
its tolist() makes every bytes object at once and drops the padding. A
block with a NUL byte (which tolist would drop too), texts longer than
WIDEST and texts that begin in an earlier block are sliced one by one.
"""

import numpy as np

from .format import entry_text

WIDEST = 64


def block_texts(data, block):
    """The texts of the block's entries, in order; `data` is the file."""
    starts = block.text_starts()
    separators = block.separators()
    lengths = separators - starts
    # Texts that began in an earlier block, or are long, are sliced alone.
    alone = (starts < block.position) | (lengths > WIDEST)
    lengths[alone] = 0
    width = int(lengths.max()) if lengths.size else 0
    region = np.zeros(block.size + width, np.uint8)
    region[:block.size] = np.frombuffer(data, np.uint8, block.size, block.position)
    if width == 0:
        texts = [b""] * lengths.size
    elif not region[:block.size].all():  # a NUL byte
        texts = [data[start:end] for start, end in zip(starts.tolist(), separators.tolist())]
    else:
        rows = np.lib.stride_tricks.sliding_window_view(region, width)[np.maximum(starts - block.position, 0)]
        rows[np.arange(width) >= lengths[:, None]] = 0
        texts = rows.view(f"S{width}").ravel().tolist()
    # Texts over several lines hold their LFs as the CR LF written.
    for index in np.flatnonzero((starts < block.line_starts()) & ~alone).tolist():
        texts[index] = entry_text(texts[index])
    alone = np.flatnonzero(alone)
    for index, start, end in zip(alone.tolist(), starts[alone].tolist(), separators[alone].tolist()):
        texts[index] = entry_text(data[start:end])
    return texts
