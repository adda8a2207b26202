"""RImage records for the benchmark and the profiling driver: the record
layout as the module reads it on a 64-bit machine, pointer texts, and the
pixel formats that are measured. Needs nothing but the standard library."""

import ctypes

# name, channels, channel order, pygame.image format of the same bytes
FORMATS = [
    ("grey", 1, b"G", "P"),
    ("RGB", 3, b"RGB", "RGB"),
    ("BGR", 3, b"BGR", "BGR"),
    ("BGRA", 4, b"BGRA", "BGRA"),
]

# What a grey Surface needs to look grey: entry i is (i, i, i).
GREY_RAMP = [(i, i, i) for i in range(256)]


class RImage(ctypes.Structure):
    _fields_ = [
        ("unread_0", ctypes.c_int * 2),
        ("channels", ctypes.c_int),
        ("unread_1", ctypes.c_int),
        ("depth", ctypes.c_int),
        ("unread_2", ctypes.c_char * 4),
        ("channel_order", ctypes.c_char * 4),
        ("unread_3", ctypes.c_int * 3),
        ("width", ctypes.c_int),
        ("height", ctypes.c_int),
        ("unread_4", ctypes.c_void_p * 4),
        ("unread_5", ctypes.c_int),
        ("pixels", ctypes.c_void_p),
        ("row_stride", ctypes.c_int),
    ]


assert RImage.pixels.offset == 88 and RImage.row_stride.offset == 96, "64-bit layout only"


class Wrapper:
    """What a binding hands out: an object whose `this` holds the pointer text."""

    def __init__(self, this):
        self.this = this


def pointer_text(record):
    return "_" + ctypes.addressof(record).to_bytes(8, "little").hex() + "_p_RImage"


def make_record(fmt, width, height):
    """A record of format `fmt` (a FORMATS row) with rows packed tight, and the
    pixel buffer it points into (keep both alive)."""
    name, channels, order, _ = fmt
    pixels = (ctypes.c_char * (width * height * channels))()
    record = RImage(channels=channels, depth=8, channel_order=order, width=width,
                    height=height, pixels=ctypes.addressof(pixels), row_stride=width * channels)
    return record, pixels
