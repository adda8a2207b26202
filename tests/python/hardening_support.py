"""RImage records in memory owned by the test, for the leak and bad-input
tests, laid out as Quorvelc reads them on 64-bit.

Imports nothing but ctypes, os and records, so that subprocesses running with
a fake pygame package can use it too.
"""
import ctypes
import os

# No screen here: SDL must pick its dummy drivers before pygame is imported.
os.environ["SDL_VIDEODRIVER"] = "dummy"
os.environ.setdefault("SDL_AUDIODRIVER", "dummy")
os.environ.setdefault("PYGAME_HIDE_SUPPORT_PROMPT", "1")

from records import TAG, RImage  # noqa: E402  (the one record layout of the tests)

TYPE_ERROR = "Type error. Expected _p_RImage"


def pointer_text(address, tag=TAG, digits=8):
    """'_', the address's bytes in memory order as hex, then the tag."""
    return "_" + address.to_bytes(digits, "little").hex() + tag


class Record:
    """An RImage with a pixel buffer of its own; keep it alive while any
    Surface made from it is used. `pixel_offset` is added to a 16-byte
    aligned start."""

    def __init__(self, width, height, channels=3, depth=8, order=b"BGR", row_stride=None,
                 pixel_offset=0, null_pixels=False):
        if row_stride is None:
            row_stride = width * max(channels, 1)
        size = max(row_stride * height, 0)
        self._buffer = ctypes.create_string_buffer(size + 32)
        start = (ctypes.addressof(self._buffer) + 15) // 16 * 16 + pixel_offset
        self.image = image = RImage()
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


class Wrapper:
    """A wrapping object: `this` holds the pointer text."""

    def __init__(self, this):
        self.this = this
