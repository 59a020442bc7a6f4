"""python3 -m tallomer.plot as it is run."""

import subprocess
import sys

import numpy as np
import pytest

from conftest import PACKAGE_ROOT, written
from tallomer.plot import rank_frequency


def plot(*arguments):
    return subprocess.run([sys.executable, "-m", "tallomer.plot", *map(str, arguments)], cwd=PACKAGE_ROOT,
                          capture_output=True, text=True, check=False)


@pytest.mark.parametrize("suffix, start", [(".svg", b"<?xml"), (".png", b"\x89PNG")])
def test_writes_the_picture_in_the_format_its_name_asks(tmp_path, suffix, start):
    counts = tmp_path / "counts.txt"
    counts.write_bytes(written([(b"a", 5), (b"b", 1), (b"c\nd", 1), (b"e", 0), (b"f", 70000)]))
    picture = tmp_path / ("picture" + suffix)
    done = plot(counts, picture)
    assert (done.returncode, done.stderr) == (0, "")
    assert picture.read_bytes().startswith(start)
    if suffix == ".svg":
        text = picture.read_text()
        assert "5 distinct n-grams, 70,007 in all" in text
        assert "1 n-grams with a count of 0 or below are not drawn" in text


def test_failures_exit_with_a_message(tmp_path):
    assert plot().returncode == 1
    done = plot(tmp_path / "missing.txt", tmp_path / "picture.svg")
    assert done.returncode == 2 and "missing.txt" in done.stderr
    (tmp_path / "cut.txt").write_bytes(b"a;1\r\nb")
    done = plot(tmp_path / "cut.txt", tmp_path / "picture.svg")
    assert done.returncode == 2 and "cut.txt: line 2: " in done.stderr
    assert not (tmp_path / "picture.svg").exists()


def test_rank_frequency_steps_through_the_ranks_of_each_count():
    ranks, counts = rank_frequency(np.array([-2, 0, 1, 5, 9]), np.array([1, 1, 3, 2, 1]))
    assert ranks.tolist() == [1, 1, 2, 3, 4, 6]
    assert counts.tolist() == [9, 9, 5, 5, 1, 1]
