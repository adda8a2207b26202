"""Writes each harness's seed corpus to fuzz/corpus/<harness>/ (committed, so
runs start from these cases); run it again after changing an input layout."""

import hashlib
import struct
from pathlib import Path

DRAW, NULL_PIXELS = 64, 128  # image_surface flags


def record(channels, width, height, stride, depth=8, order=b"B", flags=DRAW, slack=0):
    return bytes([flags, slack]) + struct.pack("<5i", channels, depth, width, height, stride) + order


def text(address=0x00A1B2C3, tag="_p_RImage", digits=8):
    return ("_" + address.to_bytes(digits, "little").hex() + tag).encode("utf-8", "surrogateescape")


SEEDS = {
    "image_surface": [
        record(3, 4, 3, 12),
        record(3, 4, 3, 12, order=b"R"),
        record(4, 5, 2, 20),
        record(1, 7, 3, 7),
        record(3, 5, 4, 16),  # grey of odd width; padded rows
        record(4, 3, 3, 12, slack=1),
        record(4, 3, 3, 14),  # 4 channels misaligned
        record(3, 4, 3, 11),
        record(1, 1, 2, 0),
        record(3, 4, 3, -12),  # short, 0, negative stride
        record(3, -1, 3, 12),
        record(3, 4, -1, 12),
        record(3, 0, 3, 0),
        record(3, 4, 0, 12),
        record(3, 4, 3, 12, flags=DRAW | NULL_PIXELS),
        record(3, 0, 0, 0, flags=DRAW | NULL_PIXELS),
        record(3, 4, 3, 12, depth=16),
        record(2, 4, 3, 8),
        record(5, 4, 3, 20),
        record(3, 1 << 20, 1, 3 << 20),
        record(3, 1 << 29, 1, 3 << 29),  # one wide row; past the cap
    ],
    "pointer_text": [  # reading texts; then writing names, with sizes and flags in the last bytes
        text(),
        text(tag="_p_RImagf"),
        text(tag=""),
        text(tag="_p_RImage\0"),
        text(tag="_p_FuzzA"),
        text(tag="_p_FuzzB"),
        text()[:10],
        text(digits=4),
        b"_C3B2A10000000000_p_RImage",
        b"_zz" + b"0" * 14 + b"_p_RImage",
        b"_\0" + b"0" * 15 + b"_p_RImage",
        ("_" + "\u00e9" * 8 + "_p_RImage").encode(),
        b"NULL",
        b"null",
        b"NULL ",
        b"",
        b"_",
        b"_p_RImage\0" + bytes(range(16)),
        b"_p_RImage\0" + b"\xff" * 16,
        b"x" * 1100 + b"\x01" * 16,
        b"_p_\xe9\0" + b"\x80" * 16,
        bytes(24),
    ],
}

if __name__ == "__main__":
    for harness, seeds in SEEDS.items():
        folder = Path(__file__).resolve().parent / "corpus" / harness
        folder.mkdir(parents=True, exist_ok=True)
        for seed in seeds:
            (folder / hashlib.sha1(seed).hexdigest()).write_bytes(seed)
