"""The readers against the rule and against the programs: one table of awkward
count files, read by read_counts in blocks of every size and line by line,
and by entropy and distribution next to tallomer.entropy and
tallomer.histogram; then count files that tallomer wrote."""

import collections
import random

import pytest

import tallomer
import tallomer.scan
from conftest import program, run, written
from tallomer.format import entries_of_bytes

INT64_MAX = (1 << 63) - 1


class TooLarge(int):
    """The line whose count passes 64 bits: every reader fails there."""


class Unfinished(int):
    """The line where a text without a count starts at the end of the file:
    the Python readers refuse it, the programs skip it."""


CASES = [
    ("LF line ends", b"a;1\nb;1\nc;2\n", [(b"a", 1), (b"b", 1), (b"c", 2)]),
    ("CR LF line ends", b"a;1\r\nb;22\r\nc;333\r\n", [(b"a", 1), (b"b", 22), (b"c", 333)]),
    ("empty file", b"", []),
    ("blank lines only", b"\r\n\n", []),
    ("a text over three lines", b"x\r\ny\r\n;3\r\nz;4\r\n", [(b"x\ny\n", 3), (b"z", 4)]),
    ("texts of LFs only", b"\r\n\r\n;2\r\n", [(b"\n\n", 2)]),
    ("CR LF inside a text", b"a\r\r\nb;2\r\n", [(b"a\r\nb", 2)]),
    ("lone CR inside a text", b"a\rb;3\r\n", [(b"a\rb", 3)]),
    ("';' inside texts", b"a;b;7\r\nx;12;5\r\n;;;4\r\n", [(b"a;b", 7), (b"x;12", 5), (b";;", 4)]),
    ("';' LF 'a' is one text", b";\r\na;5\r\n", [(b";\na", 5)]),
    ("digits before an LF of a text read as a count", b"x;12\r\ny;3\r\n", [(b"x", 12), (b"y", 3)]),
    ("last line without LF", b"a;1\r\nb;2", [(b"a", 1), (b"b", 2)]),
    ("last line ending in CR", b"a;1\r\nb;2\r", [(b"a", 1), (b"b", 2)]),
    ("blank lines before and after", b"\n\r\n\na;3\n\n", [(b"\n\n\na", 3)]),
    ("signs, blanks and junk after the digits", b"a;+3\r\nb;-4\r\nc; \t12\r\nd;5x\r\ne;007\r\n",
     [(b"a", 3), (b"b", -4), (b"c", 12), (b"d", 5), (b"e", 7)]),
    ("tails without a number", b"a;x5\r\nb;\r\nc;+-3\r\nd;- 3\r\ne;9\r\n",
     [(b"a;x5\nb;\nc;+-3\nd;- 3\ne", 9)]),
    ("huge counts", b"a;9223372036854775807\r\nb;-9223372036854775808\r\nc;000000000000000000000000042\r\n"
     b"d;123456789012345678\r\ne;1234567890123456789\r\n",
     [(b"a", INT64_MAX), (b"b", -INT64_MAX - 1), (b"c", 42), (b"d", 123456789012345678),
      (b"e", 1234567890123456789)]),
    ("a total beyond 64 bits", b"a;9223372036854775807\r\nb;1\r\n", [(b"a", INT64_MAX), (b"b", 1)]),
    ("a count of 0", b"a;0\r\nb;2\r\n", [(b"a", 0), (b"b", 2)]),
    ("counts summing to 0", b"a;5\r\nb;-5\r\n", [(b"a", 5), (b"b", -5)]),
    ("only negative counts", b"a;-1\r\nb;-3\r\n", [(b"a", -1), (b"b", -3)]),
    ("NUL and 0xFF bytes in texts", b"\x00a;1\r\nb\xff;2\r\n\x00\r\n\xff;3\r\n",
     [(b"\x00a", 1), (b"b\xff", 2), (b"\x00\n\xff", 3)]),
    ("every byte value in the texts", b"x;1\r\n" + written([(bytes(range(256)), 7)]) + b"y;2\r\n",
     [(b"x", 1), (bytes(range(256)), 7), (b"y", 2)]),
    ("a count beyond 64 bits", b"a;1\r\nb\r\nc;-9223372036854775809\r\n", TooLarge(3)),
    ("a text without its count at the end", b"a;1\r\nb\r\nc\r\n", Unfinished(2)),
    ("not a count file", b"\x89PNG\r\n\x1a\n\x00\x00;x", Unfinished(1)),
]
BLOCK_BYTES = [1, 5, 1 << 20]


@pytest.mark.parametrize("name, data, expected", CASES, ids=[case[0] for case in CASES])
def test_read_counts_follows_the_rule(tmp_path, monkeypatch, name, data, expected):
    path = tmp_path / "counts.txt"
    path.write_bytes(data)
    for block_bytes in BLOCK_BYTES:
        monkeypatch.setattr(tallomer.scan, "BLOCK_BYTES", block_bytes)
        if isinstance(expected, int):
            with pytest.raises(tallomer.CountFileError) as error:
                list(tallomer.read_counts(path))
            assert (error.value.path, error.value.line) == (str(path), expected)
            assert f"{path}: line {expected}: " in str(error.value)
        else:
            assert list(tallomer.read_counts(path)) == expected, block_bytes
    if not isinstance(expected, int):
        assert entries_of_bytes(data) == expected


def python_figures(path):
    """What tallomer.entropy and tallomer.histogram give, as the programs
    print and write it, or the line of a CountFileError ("" without one)."""
    try:
        report = tallomer.entropy(path).report().encode()
    except tallomer.CountFileError as error:
        report = error.line or ""
    histograms = []
    for bucket in (1, 3, -1):
        try:
            histograms.append(b"".join(b"%d;%d\r\n" % pair for pair in tallomer.histogram(path, bucket)))
        except tallomer.CountFileError as error:
            histograms.append(error.line or "")
    return report, histograms


def program_figures(path, tmp_path):
    """The same from entropy and distribution; a failure as the line its
    message names ("" without one)."""
    def failed(done):
        assert done.returncode == 2, done
        message = done.stderr.decode()
        return int(message.split(": line ")[1].split(":")[0]) if ": line " in message else ""

    done = run(program("entropy"), path)
    report = done.stdout if done.returncode == 0 else failed(done)
    histograms = []
    for bucket in (1, 3, -1):
        histogram = tmp_path / f"histogram{bucket}"
        done = run(program("distribution"), str(bucket), path, histogram)
        histograms.append(histogram.read_bytes() if done.returncode == 0 else failed(done))
    return report, histograms


READ_BY_THE_PROGRAMS = [case for case in CASES if not isinstance(case[2], Unfinished)]


@pytest.mark.parametrize("name, data, expected", READ_BY_THE_PROGRAMS, ids=[case[0] for case in READ_BY_THE_PROGRAMS])
def test_entropy_and_histogram_equal_the_programs(tmp_path, name, data, expected):
    path = tmp_path / "counts.txt"
    path.write_bytes(data)
    assert python_figures(path) == program_figures(str(path), tmp_path)


def character_counts(corpus, n):
    """The n-grams of a corpus counted the slow way, in the count file's
    order."""
    return sorted(collections.Counter(corpus[i:i + n] for i in range(len(corpus) - n + 1)).items())


@pytest.mark.parametrize("n", [1, 3, 6])
def test_what_tallomer_writes_reads_back(tmp_path, monkeypatch, n):
    # No digits in the corpus: ';' and digits before an LF of a text would
    # read as a count (see the table).
    rng = random.Random(n)
    corpus = bytes(rng.choice(b"ab;\n\r -\xe9\x1a") for _ in range(20000))
    (tmp_path / "corpus").write_bytes(corpus)
    path = tmp_path / "counts.txt"
    assert run(program("tallomer"), "c", str(n), tmp_path / "corpus", path).returncode == 0
    monkeypatch.setattr(tallomer.scan, "BLOCK_BYTES", 4096)
    assert list(tallomer.read_counts(path)) == character_counts(corpus, n)
    assert python_figures(path) == program_figures(str(path), tmp_path)
