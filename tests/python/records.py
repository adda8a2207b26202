"""RImage records in memory that the tests own, over the record declaration
of `Quorvel` (checked here against the offsets Quorvelc reads on the running
interpreter's word size, 32- or 64-bit), and the pointer texts that name them.

Imports ctypes and Quorvel, which imports pygame and Quorvelc: subprocesses
that run with a fake pygame can use it as long as the fake imports.
"""

import ctypes
import sys

from Quorvel import RImage

TAG = "_p_RImage"
CANARY = 0xAB  # every byte of a new pixel buffer, padding included
POINTER_SIZE = ctypes.sizeof(ctypes.c_void_p)
DIGITS = 2 * POINTER_SIZE  # hex digits in a pointer text
# Offsets where the word sizes differ; the fields before them are shared.
_OFFSETS = {4: {"unread_5": 64, "pixels": 68, "row_stride": 72}, 8: {"unread_5": 80, "pixels": 88, "row_stride": 96}}
assert POINTER_SIZE in _OFFSETS, f"no record layout for {POINTER_SIZE}-byte pointers"
for _name, _offset in {
    "channels": 8,
    "depth": 16,
    "channel_order": 24,
    "width": 40,
    "height": 44,
    "unread_4": 48,
    **_OFFSETS[POINTER_SIZE],
}.items():
    assert getattr(RImage, _name).offset == _offset, (_name, getattr(RImage, _name).offset)


def pointer_text(address, tag=TAG, size=POINTER_SIZE):
    """The pointer text of `address`: '_', its `size` bytes (a pointer's
    unless given) in memory order as hex digits, the tag."""
    return "_" + address.to_bytes(size, sys.byteorder).hex() + tag


def byte_masks(size, *positions):
    """What get_masks() reads for channels at these byte positions (0 first
    in memory) of a `size`-byte pixel, on this machine's byte order."""

    def mask(position):
        return 0xFF << 8 * (position if sys.byteorder == "little" else size - 1 - position)

    return tuple(mask(p) for p in positions)


# Colour masks by channel order: red first or blue first, alpha last.
RED_FIRST_24 = byte_masks(3, 0, 1, 2) + (0,)
BLUE_FIRST_24 = byte_masks(3, 2, 1, 0) + (0,)
RED_FIRST_32 = byte_masks(4, 0, 1, 2, 3)
BLUE_FIRST_32 = byte_masks(4, 2, 1, 0, 3)


def other_word_size_text(address):
    """The text the other word size would write for `address`: 8 digits from
    its low bytes on 64-bit, 16 digits on 32-bit."""
    if POINTER_SIZE == 8:
        return pointer_text(address & 0xFFFFFFFF, size=4)
    return pointer_text(address, size=8)


class Record:
    """An RImage with a pixel buffer of its own.

    Keep the Record alive for as long as any Surface made from it is used.
    `pixel_offset` is added to a 16-byte aligned start, so the pixel address
    is a multiple of 4 exactly when the offset is.
    """

    def __init__(
        self, width, height, channels=3, depth=8, order=b"BGR", row_stride=None, pixel_offset=0, null_pixels=False
    ):
        self.bytes_per_pixel = max(channels, 1)
        if row_stride is None:
            row_stride = width * self.bytes_per_pixel
        self.width, self.height, self.row_stride = width, height, row_stride
        self.size = max(row_stride * height, 0)  # records with negative sizes own no pixels
        self._buffer = ctypes.create_string_buffer(self.size + 32)
        start = (ctypes.addressof(self._buffer) + 15) // 16 * 16 + pixel_offset
        self.pixel_address = start
        self.memory = (ctypes.c_ubyte * self.size).from_address(start)
        ctypes.memset(start, CANARY, self.size)

        self.image = image = RImage()
        # Fields the module must not read hold values that would be refused
        # if read in place of the real ones (pointer-sized ones stay null).
        image.unread_0[:] = (-1, -1)
        image.unread_1 = -1
        image.unread_2 = b"\xff" * 4
        image.unread_3[:] = (-1, -1, -1)
        image.channels = channels
        image.depth = depth
        image.channel_order = order
        image.width = width
        image.height = height
        image.pixels = None if null_pixels else start
        image.row_stride = row_stride

    @property
    def address(self):
        return ctypes.addressof(self.image)

    @property
    def text(self):
        return pointer_text(self.address)

    def offset(self, x, y):
        return y * self.row_stride + x * self.bytes_per_pixel

    def read(self, x, y, count=None):
        start = self.offset(x, y)
        return bytes(self.memory[start : start + (count or self.bytes_per_pixel)])

    def write(self, x, y, data):
        start = self.offset(x, y)
        self.memory[start : start + len(data)] = list(data)


class Wrapper:
    """A wrapping object: its `this` attribute holds the pointer text."""

    def __init__(self, this):
        self.this = this
