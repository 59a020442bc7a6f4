"""What the tests share: the package from this source tree, the built
programs (from TALLOMER_BIN, else build/ beside python/) and count files
written as tallomer writes them."""

import os
import pathlib
import subprocess
import sys

import pytest

PACKAGE_ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(PACKAGE_ROOT))


def program(name):
    """The path of a built program; a test that needs one fails when
    TALLOMER_BIN names a folder without it, and is skipped when no folder
    is named and build/ has none."""
    folder = os.environ.get("TALLOMER_BIN")
    path = pathlib.Path(folder or PACKAGE_ROOT.parent / "build") / name
    if not path.is_file():
        if folder:
            pytest.fail(f"TALLOMER_BIN={folder} holds no {name}")
        pytest.skip(f"no built {name}: build the programs or set TALLOMER_BIN")
    return str(path)


def run(*arguments):
    """Runs a program with no standard input; returns the finished process."""
    return subprocess.run(arguments, stdin=subprocess.DEVNULL, capture_output=True, check=False)


def written(entries):
    """The bytes of a count file of these (text, count) pairs, as the
    writer writes them: an LF inside a text goes out as CR LF."""
    return b"".join(text.replace(b"\n", b"\r\n") + b";%d\r\n" % count for text, count in entries)
