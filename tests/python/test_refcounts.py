"""Calls keep no reference and drop none: the reference counts of everything
handed in, and of None, are the same after many calls as before."""

import sys

import pytest

import Quorvelc
from records import Record, Wrapper, pointer_text

convert = Quorvelc.RImage_asSDLSurface
CALLS = 10_000


def call_many(value, refused):
    for _ in range(CALLS):
        try:
            convert(value)
        except TypeError:
            if not refused:
                raise
        else:
            assert not refused


@pytest.fixture(scope="module")
def records():
    return {
        "shown": Record(4, 2, channels=4, order=b"RGBA"),
        "grey": Record(4, 2, channels=1),
        "not-shown": Record(4, 2, depth=16),
    }


CASES = [
    # name, builds the argument from the records, refused
    ("surface-text", lambda r: r["shown"].text, False),
    ("grey-text", lambda r: r["grey"].text, False),
    ("none-record-text", lambda r: r["not-shown"].text, False),
    ("surface-wrapper", lambda r: Wrapper(r["shown"].text), False),
    ("NULL-wrapper", lambda r: Wrapper("NULL"), False),
    ("None", lambda r: None, False),
    ("NULL", lambda r: "NULL", False),
    ("refused-tag", lambda r: pointer_text(r["shown"].address, "_p_Other"), True),
    ("refused-wrapper-tag", lambda r: Wrapper(pointer_text(r["shown"].address, "_p_Other")), True),
    ("refused-wrapper-int", lambda r: Wrapper(12345), True),
    ("refused-int", lambda r: 12345678, True),
    ("refused-surrogate", lambda r: r["shown"].text + "\ud800", True),
]


@pytest.mark.parametrize("make, refused", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_reference_counts_are_unchanged(records, make, refused):
    value = make(records)
    this = getattr(value, "this", None) if isinstance(value, Wrapper) else None
    call_many(value, refused)  # first-use state (cached names) settles here

    before = (sys.getrefcount(value), sys.getrefcount(this), sys.getrefcount(None))
    call_many(value, refused)
    after = (sys.getrefcount(value), sys.getrefcount(this), sys.getrefcount(None))
    assert after == before
