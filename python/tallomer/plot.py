"""python3 -m tallomer.plot COUNTFILE OUT.svg|OUT.png

Draws a count file's rank-frequency curve (the counts from the highest down,
against their rank) and its count of counts (how many n-grams occur once,
twice, ...), both on log-log axes, with the file's distinct n-grams and their
total in the title. Both come from the count of counts, gathered a block at a
time: a file of any number of entries needs memory for its distinct counts
only.
"""

import importlib
import os
import sys
import threading

import numpy as np

from .format import CountFileError
from .reading import CountOfCounts, count_arrays

USAGE = "usage: python3 -m tallomer.plot COUNTFILE OUT.svg|OUT.png"


def count_of_counts(path):
    """(values, numbers): every count that occurs, ascending, and how many
    entries have it, as int64 arrays."""
    gathered = CountOfCounts()
    for counts in count_arrays(path):
        gathered.add(counts)
    items = gathered.items()
    values = np.array([value for value, _ in items], np.int64)
    numbers = np.array([number for _, number in items], np.int64)
    return values, numbers


def rank_frequency(values, numbers):
    """The rank-frequency curve of positive counts as a step line: each
    count from the highest down, held from the first rank to the last rank
    that entries of that count take."""
    positive = values > 0
    values, numbers = values[positive][::-1], numbers[positive][::-1]
    last = np.cumsum(numbers)
    first = last - numbers + 1
    ranks = np.column_stack((first, last)).ravel()
    return ranks, np.repeat(values, 2)


def draw(path, output):
    """Writes the picture of the count file at `path` to `output`, in the
    format its suffix names (any matplotlib writes: .svg, .png, .pdf)."""
    # matplotlib takes a second to import: it does so while numpy reads.
    importing = threading.Thread(target=importlib.import_module, args=("matplotlib.figure",), daemon=True)
    importing.start()
    values, numbers = count_of_counts(path)
    importing.join()
    from matplotlib.figure import Figure  # no pyplot: no window, no backend to choose

    distinct = int(numbers.sum())
    total = sum(value * number for value, number in zip(values.tolist(), numbers.tolist()))
    # A fixed layout: a computed one takes longer than the drawing.
    figure = Figure(figsize=(11, 4.8))
    figure.subplots_adjust(left=0.08, right=0.98, bottom=0.15, top=0.84, wspace=0.25)
    figure.suptitle(f"{os.path.basename(path)}: {distinct:,} distinct n-grams, {total:,} in all")
    by_rank, by_count = figure.subplots(1, 2)

    ranks, counts = rank_frequency(values, numbers)
    if ranks.size:
        by_rank.loglog(ranks, counts)
    by_rank.set(title="Rank-frequency", xlabel="rank (highest count first)", ylabel="count")

    positive = values > 0
    if positive.any():
        by_count.loglog(values[positive], numbers[positive], ".", markersize=3)
    by_count.set(title="Count of counts", xlabel="count", ylabel="n-grams with that count")
    hidden = int(numbers[~positive].sum())
    if hidden:
        figure.text(0.5, 0.01, f"{hidden:,} n-grams with a count of 0 or below are not drawn",
                    ha="center", va="bottom", fontsize="small")
    for axes in (by_rank, by_count):
        axes.grid(True, which="major", alpha=0.3)
    figure.savefig(output)


def main(arguments):
    if len(arguments) != 2:
        print(USAGE, file=sys.stderr)
        return 1
    path, output = arguments
    try:
        draw(path, output)
    except (OSError, CountFileError, ValueError) as error:
        print(f"tallomer.plot: {error}", file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
