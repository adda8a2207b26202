"""A short conversion workload for valgrind.py: every pixel format,
texts and wrappers, None and "NULL", layouts that give None, and refused
arguments of several kinds, with each Surface drawn into and dropped.

Usage: valgrind_conversions.py [rounds]
(the tests' `records` module must be importable: PYTHONPATH=tests/python)
"""

import sys

import pygame  # noqa: F401  (loaded first, as a program using the module would)

import Quorvelc
from records import TAG, Record, Wrapper, pointer_text

TYPE_ERROR = "Type error. Expected " + TAG


class RaisingThis:
    @property
    def this(self) -> str:
        raise ValueError("no pointer here")


def main(rounds: int) -> None:
    convert = Quorvelc.RImage_asSDLSurface
    records = [
        Record(6, 4, channels=3, order=b"BGR"),
        Record(6, 4, channels=3, order=b"RGB", row_stride=20),
        Record(6, 4, channels=4, order=b"RGBA"),
        Record(5, 3, channels=1),
    ]
    unshowable = [
        Record(4, 4, depth=16),
        Record(4, 4, channels=2),
        Record(4, 3, row_stride=5),
        Record(4, 3, channels=4, pixel_offset=1),
        Record(4, 3, null_pixels=True),
    ]
    address = records[0].address
    refused = [
        pointer_text(address, "_p_Other"),
        pointer_text(address)[:9],
        pointer_text(address, TAG + "\0"),
        "_" + "\udc80" * 16 + TAG,
        "null",
        "",
        pointer_text(address & 0xFFFFFFFF, size=4),
        7,
        object(),
        Wrapper(3.5),
        RaisingThis(),
    ]
    made = nones = refusals = 0
    for _ in range(rounds):
        for record in records:
            for argument in (record.text, Wrapper(record.text)):
                surface = convert(argument)
                assert surface is not None, f"{argument!r} gave no Surface"
                surface.fill((10, 20, 30))
                surface.set_at((0, 0), (1, 2, 3))
                made += 1
                del surface
        for argument in [None, "NULL"] + [r.text for r in unshowable]:
            assert convert(argument) is None
            nones += 1
        for argument in refused:
            try:
                convert(argument)
            except TypeError as error:
                assert error.args[0] == TYPE_ERROR, error
                refusals += 1
            else:
                raise AssertionError(f"{argument!r} was accepted")
    print(f"{made} surfaces, {nones} None results, {refusals} refusals")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 200)
