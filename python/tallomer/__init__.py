"""Reading the count files that tallomer writes: their entries, distribution's
histogram and entropy's figures."""

from .entropy import Entropy, entropy
from .format import CountFileError
from .reading import histogram, read_counts

__all__ = ["CountFileError", "Entropy", "entropy", "histogram", "read_counts"]
