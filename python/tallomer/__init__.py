"""Reading the count files that tallomer writes: their entries, the highest
counts, the counts of given n-grams, distribution's histogram and entropy's
figures. `python3 -m tallomer.plot COUNTFILE OUT.svg` draws them."""

from .entropy import Entropy, entropy
from .format import CountFileError
from .reading import histogram, read_counts
from .highest import top
from .search import find

__all__ = ["CountFileError", "Entropy", "entropy", "find", "histogram", "read_counts", "top"]
