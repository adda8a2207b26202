"""Writes the seed corpus of each harness under fuzz/corpus/<harness>/.

Run it again after changing an input layout; the seeds are committed, so the
fuzz runs start from these cases whatever they find later.
"""
import hashlib
import struct
from pathlib import Path

CORPUS = Path(__file__).resolve().parent / "corpus"

# image_surface flags (see the input layout in image_surface.cpp).
CHANNELS_FROM_TABLE, DEPTH_8, ORDER_R, WIDTH_SMALL, HEIGHT_SMALL, STRIDE_RELATIVE, DRAW, NULL_PIXELS = (
    1, 2, 4, 8, 16, 32, 64, 128)


def record(channels, width, height, stride, depth=8, order=b"B", draw=True, null_pixels=False,
           slack=0):
    flags = (DRAW if draw else 0) | (NULL_PIXELS if null_pixels else 0)
    return (bytes([flags, slack])
            + struct.pack("<5i", channels, depth, width, height, stride) + order)


def pointer_text(address, tag="_p_RImage", digits=8):
    return "_" + address.to_bytes(digits, "little").hex() + tag


IMAGE_SURFACE = [
    record(3, 4, 3, 12),                      # BGR, tight rows
    record(3, 4, 3, 12, order=b"R"),          # RGB
    record(4, 5, 2, 20),                      # 32-bit, aligned
    record(1, 7, 3, 7),                       # grey, odd width
    record(3, 5, 4, 16),                      # padded rows
    record(4, 3, 3, 12, slack=1),             # misaligned 4-channel pixels
    record(4, 3, 3, 14),                      # 4-channel stride not a multiple of 4
    record(3, 4, 3, 11),                      # stride one byte short of a row
    record(1, 1, 2, 0),                       # stride 0: rows on top of each other
    record(3, 4, 3, -12),                     # negative stride
    record(3, -1, 3, 12),                     # negative width
    record(3, 4, -1, 12),                     # negative height
    record(3, 0, 3, 0),                       # no columns
    record(3, 4, 0, 12),                      # no rows
    record(3, 4, 3, 12, null_pixels=True),    # null pixels with rows
    record(3, 0, 0, 0, null_pixels=True),     # null pixels, empty
    record(3, 4, 3, 12, depth=16),            # depth not 8
    record(2, 4, 3, 8),                       # 2 channels
    record(5, 4, 3, 20),                      # 5 channels
    record(3, 1 << 20, 1, 3 << 20),           # one wide row
    record(3, 1 << 29, 1, 3 << 29),           # claims more than the cap
]

POINTER_TEXT = [
    pointer_text(0x00A1B2C3),
    pointer_text(0x00A1B2C3, "_p_RImagf"),
    pointer_text(0x00A1B2C3, ""),
    pointer_text(0x00A1B2C3, "_p_RImage\0"),
    pointer_text(0x00A1B2C3, "_p_FuzzA"),
    pointer_text(0x00A1B2C3, "_p_FuzzB"),
    pointer_text(0x00A1B2C3)[:10],
    pointer_text(0x00A1B2C3, digits=4),       # an 8-digit text of a 32-bit host
    "_C3B2A10000000000_p_RImage",             # upper-case digits
    "_zz" + "0" * 14 + "_p_RImage",
    "_\0" + "0" * 15 + "_p_RImage",
    "_" + "\u00e9" * 8 + "_p_RImage",         # two UTF-8 bytes per character
    "NULL", "null", "NULL ", "", "_",
]

POINTER_WRITING = [
    b"_p_RImage" + bytes(range(16)),
    b"_p_RImage" + b"\xff" * 16,
    b"x" * 1100 + b"\x01" * 16,
    b"_p_\xe9" + b"\x80" * 16,                # a name that is no UTF-8
    b"_p_RImage\0tail" + b"\x10" * 16,
    bytes(24),
]


def write(harness, seeds):
    folder = CORPUS / harness
    folder.mkdir(parents=True, exist_ok=True)
    for seed in seeds:
        data = seed.encode("utf-8", "surrogateescape") if isinstance(seed, str) else seed
        (folder / hashlib.sha1(data).hexdigest()).write_bytes(data)


if __name__ == "__main__":
    write("image_surface", IMAGE_SURFACE)
    write("pointer_text", POINTER_TEXT)
    write("pointer_writing", POINTER_WRITING)
