"""find and top against the obvious answers on a generated count file."""

import random

import pytest

import tallomer
import tallomer.scan
import tallomer.search
from conftest import written


def generated_entries(seed, number):
    """Distinct texts of ';', LF, CR, blank and other bytes (no digits, which
    before an LF of a text would read as a count), in the file's order, with
    counts that tie often."""
    rng = random.Random(seed)
    texts = {bytes(rng.choice(b";\n\r a\xe9z") for _ in range(rng.randrange(0, 9))) for _ in range(number)}
    return [(text, rng.choice([1, 1, 2, 3, 7, 40, 10**12, -5, 0])) for text in sorted(texts)]


@pytest.fixture(name="entries")
def fixture_entries():
    return generated_entries(1, 3000)


@pytest.mark.parametrize("scan_bytes", [16, 4096])
def test_find_gives_each_count_in_the_order_asked(tmp_path, monkeypatch, entries, scan_bytes):
    monkeypatch.setattr(tallomer.search, "_SCAN_BYTES", scan_bytes)
    path = tmp_path / "counts.txt"
    path.write_bytes(written(entries))
    counts = dict(entries)
    asked = [text for text, _ in entries]
    asked += [text + extra for text, _ in entries[::7] for extra in (b"\x00", b"\xff")]
    asked += [b"", b"\xff" * 9, b"\n" * 9, b"a\n"]
    random.Random(2).shuffle(asked)
    assert tallomer.find(path, asked) == [counts.get(text, 0) for text in asked]


def test_find_in_small_and_empty_files(tmp_path):
    path = tmp_path / "counts.txt"
    for data, asked, expected in [
        (b"", [b"a"], [0]),
        (b"a;1\r\nb;2", [b"b", b"a", b"c", b""], [2, 1, 0, 0]),
        (b"\r\n;4\r\nx;5\r\n", [b"\n", b"x"], [4, 5]),
    ]:
        path.write_bytes(data)
        assert tallomer.find(path, asked) == expected


def test_find_refuses_a_file_out_of_order(tmp_path, monkeypatch, entries):
    monkeypatch.setattr(tallomer.search, "_SCAN_BYTES", 16)
    middle = len(entries) // 2
    entries[middle], entries[middle + 1] = entries[middle + 1], entries[middle]
    path = tmp_path / "counts.txt"
    path.write_bytes(written(entries))
    with pytest.raises(tallomer.CountFileError, match="not in byte order"):
        tallomer.find(path, [text for text, _ in entries])


def test_find_takes_a_list_of_bytes(tmp_path):
    path = tmp_path / "counts.txt"
    path.write_bytes(b"a;1\r\n")
    for wrong in (b"a", "a", ["a"]):
        with pytest.raises(TypeError):
            tallomer.find(path, wrong)


@pytest.mark.parametrize("k", [0, 1, 5, 100, 5000])
def test_top_is_the_highest_counts_ties_in_file_order(tmp_path, monkeypatch, entries, k):
    monkeypatch.setattr(tallomer.scan, "BLOCK_BYTES", 2000)
    path = tmp_path / "counts.txt"
    path.write_bytes(written(entries))
    ranked = sorted(range(len(entries)), key=lambda index: (-entries[index][1], index))
    assert tallomer.top(path, k) == [entries[index] for index in ranked[:k]]
