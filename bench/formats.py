"""The pixel formats that the benchmark and the profiling driver measure, and
records of them. Records, wrappers and pointer texts are the tests' own
(tests/python/records.py), so the record layout is declared once for both.
Needs nothing but the standard library."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))
from records import Record, Wrapper  # noqa: E402,F401  (Wrapper is for the importers)

# name, channels, channel order, pygame.image format of the same bytes
FORMATS = [
    ("grey", 1, b"G", "P"),
    ("RGB", 3, b"RGB", "RGB"),
    ("BGR", 3, b"BGR", "BGR"),
    ("BGRA", 4, b"BGRA", "BGRA"),
]

# What a grey Surface needs to look grey: entry i is (i, i, i).
GREY_RAMP = [(i, i, i) for i in range(256)]


def make_record(fmt, width, height):
    """A record of format `fmt` (a FORMATS row), its rows packed tight. Its
    `text` is its pointer text, its `memory` its pixels; keep it alive while a
    Surface made from it is used."""
    _, channels, order, _ = fmt
    return Record(width, height, channels=channels, order=order)
