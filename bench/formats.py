"""The pixel formats the benchmark and the profiler measure. Records are the
tests' own (the records module: PYTHONPATH must hold tests/python), so their
layout is declared once."""

from typing import Literal

from records import Record, Wrapper

__all__ = ["FORMATS", "GREY_RAMP", "Record", "Wrapper", "record"]

# name: channels, channel order in the record, pygame.image format of the same bytes
FORMATS: dict[str, tuple[int, bytes, Literal["P", "RGB", "BGR", "BGRA"]]] = {
    "grey": (1, b"G", "P"),
    "RGB": (3, b"RGB", "RGB"),
    "BGR": (3, b"BGR", "BGR"),
    "BGRA": (4, b"BGRA", "BGRA"),
}

# What a grey Surface needs to look grey: entry i is (i, i, i).
GREY_RAMP = [(i, i, i) for i in range(256)]


def record(name: str, size: tuple[int, int]) -> Record:
    """A record of format `name`, rows packed; keep it alive while its Surfaces are used."""
    return Record(*size, channels=FORMATS[name][0], order=FORMATS[name][1])
