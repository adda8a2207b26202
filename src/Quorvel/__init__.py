"""pygame Surfaces over any writable pixel buffer, and Surfaces that keep
their pixels alive.

`Quorvelc.RImage_asSDLSurface` shows an `RImage` record's own pixels but holds
nothing: the caller keeps the record and its memory alive. This package builds
the record for a numpy array, a `bytearray`, an `mmap` or any other writable
buffer, and ties what owns the pixels to the Surface it returns:

- `frombuffer(buffer, size=None, format="RGB", pitch=None)`: a Surface over
  the buffer's own memory, rows at any positive stride (regions of interest,
  padded rows), grey shown grey. The Surface keeps the buffer referenced and
  exported (a `bytearray` cannot be resized, an `mmap` not closed) until it
  is collected, along with anything that keeps it alive.
- `fromrecord(image)`: `RImage_asSDLSurface(image)`, and the Surface keeps
  `image` (the object that owns the record) alive.
- `RImage`, `record_for(...)`, `pointer_text(...)`: the record's declaration,
  the record `frombuffer` builds, and the text that names a record.
"""

from __future__ import annotations

import ctypes
import math
import struct
import sys
import threading
import weakref
from operator import index
from typing import TYPE_CHECKING, Any

import pygame

from Quorvelc import RImage_asSDLSurface

if TYPE_CHECKING:
    from Quorvelc import SupportsThis

__all__ = ["RImage", "frombuffer", "fromrecord", "pointer_text", "record_for"]


class RImage(ctypes.Structure):
    """The image record as `Quorvelc` reads it, laid out by this platform's C
    rules. Fields named `unread_*` are never read; they fix the layout."""

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
        # A `char *` in C; c_void_p reads back as an integer address, or None.
        ("pixels", ctypes.c_void_p),
        ("row_stride", ctypes.c_int),
    ]
    channels: int
    depth: int
    channel_order: bytes
    width: int
    height: int
    pixels: int | None
    row_stride: int


_POINTER_SIZE = ctypes.sizeof(ctypes.c_void_p)
_POINTER_LIMIT = 1 << 8 * _POINTER_SIZE
_TAG = "_p_RImage"
_INT_MAX = (1 << 8 * ctypes.sizeof(ctypes.c_int) - 1) - 1
_SIDE_LIMIT = (1 << 30) - 1  # no SDL is given a side this long or longer
# format: bytes per pixel and the channel order the record carries
_FORMATS = {"L": (1, b"L"), "RGB": (3, b"RGB"), "BGR": (3, b"BGR"), "RGBA": (4, b"RGBA"), "BGRA": (4, b"BGRA")}
_FORMAT_NAMES = ", ".join(_FORMATS)

# What keeps each live Surface's pixels: keyed by a weak reference to the
# Surface, whose callback drops the entry when the Surface is collected.
_kept: dict[weakref.ref[pygame.Surface], object] = {}
# One record per thread, reused: `RImage_asSDLSurface` reads it only during
# the call, and no two threads ever fill the same one.
_local = threading.local()

# A buffer's layout: what to keep, pixel address, width, height, bytes per
# pixel, channel order, row stride.
_Layout = tuple[object, int, int, int, int, bytes, int]


def pointer_text(record: RImage | int) -> str:
    """The pointer text that names `record` (an RImage or an address): '_',
    the address's bytes in memory order as lower-case hex, '_p_RImage';
    "NULL" for address 0. ValueError for a negative address or one that does
    not fit a pointer; TypeError for anything else."""
    if isinstance(record, RImage):
        address = ctypes.addressof(record)
    else:
        address = index(record)
        if not 0 <= address < _POINTER_LIMIT:
            raise ValueError(f"address {address:#x} does not fit a {_POINTER_SIZE}-byte pointer")
        if address == 0:
            return "NULL"
    return "_" + address.to_bytes(_POINTER_SIZE, sys.byteorder).hex() + _TAG


def _packer() -> struct.Struct:
    """Packs the fields that Quorvelc reads (channels, depth, channel order,
    width, height, pixels, row stride) at their offsets in RImage, in one call."""
    layout, at = "@", 0
    for name, code in (
        ("channels", "i"),
        ("depth", "i"),
        ("channel_order", "4s"),
        ("width", "i"),
        ("height", "i"),
        ("pixels", "P"),
        ("row_stride", "i"),
    ):
        field = getattr(RImage, name)
        layout += f"{field.offset - at}x{code}"
        at = field.offset + field.size
    return struct.Struct(layout)


_pack = _packer().pack_into


def _thread_record() -> tuple[memoryview, str]:
    """This thread's record, as the bytes to pack into, and its pointer text;
    made on first use."""
    record = RImage()
    _local.slot = slot = (memoryview(record).cast("B"), pointer_text(record))
    return slot


def frombuffer(
    buffer: object, size: tuple[int, int] | None = None, format: str = "RGB", pitch: int | None = None
) -> pygame.Surface:
    """A new Surface over the pixels of `buffer`, with pygame.image.frombuffer's
    arguments: `size` is (width, height), `format` one of L (grey), RGB, BGR,
    RGBA, BGRA, `pitch` the bytes from one row to the next.

    `buffer` is an array with `__array_interface__` of 2 or 3 dimensions
    (height, width[, channels]), rows at any positive stride, or any other
    writable C-contiguous buffer with the pixels at its first byte. Nothing is
    copied: writes through the Surface change the buffer and the reverse.
    The Surface keeps `buffer` referenced and exported until it is collected.

    TypeError for a format that is not a str and for a buffer that is
    read-only or none; ValueError, naming the rule, for any layout that
    cannot be shown. Never returns None.
    """
    keep, address, width, height, bpp, order, stride = _layout(buffer, size, format, pitch)
    try:
        record, text = _local.slot
    except AttributeError:
        record, text = _thread_record()
    _pack(record, 0, bpp, 8, order, width, height, address, stride)
    surface = RImage_asSDLSurface(text)
    if surface is None:
        raise ValueError(f"SDL made no {width}x{height} {format} Surface over this buffer")
    _kept[weakref.ref(surface, _kept.pop)] = keep
    return surface


def record_for(
    buffer: object, size: tuple[int, int] | None = None, format: str = "RGB", pitch: int | None = None
) -> RImage:
    """The RImage that `frombuffer` builds over `buffer`, with the same checks
    and errors, as a new record of its own. It keeps `buffer` referenced and
    exported while it lives: keep it alive while C code uses it."""
    keep, address, width, height, bpp, order, stride = _layout(buffer, size, format, pitch)
    record = RImage(
        channels=bpp, depth=8, channel_order=order, width=width, height=height, pixels=address, row_stride=stride
    )
    record.__dict__["buffer"] = keep
    return record


def fromrecord(image: str | SupportsThis | None, /) -> pygame.Surface | None:
    """`Quorvelc.RImage_asSDLSurface(image)`, whose results and errors it
    gives, and the Surface keeps `image` (the object that owns the record)
    alive until it is collected."""
    surface = RImage_asSDLSurface(image)
    if surface is not None:
        _kept[weakref.ref(surface, _kept.pop)] = image
    return surface


def _layout(buffer: Any, size: Any, format: Any, pitch: Any) -> _Layout:
    """Checks `buffer` against `size`, `format` and `pitch` and gives its
    layout; raises TypeError or ValueError naming what is wrong."""
    try:
        bpp, order = _FORMATS[format]
    except (KeyError, TypeError):
        if not isinstance(format, str):
            raise TypeError(f"format must be a str, not {type(format).__name__}") from None
        raise ValueError(f"format must be one of {_FORMAT_NAMES}, not {format!r}") from None
    try:
        view: memoryview | None = memoryview(buffer)
    except TypeError:
        view = None
    if view is None or view.ndim == 1:
        # An array may describe a shape that its buffer, if any, does not.
        interface = getattr(buffer, "__array_interface__", None)
        if interface is not None and len(interface["shape"]) != 1:
            return _from_interface(buffer, interface, size, format, pitch, bpp, order)
        if view is None:
            raise TypeError(f"{type(buffer).__name__} has no buffer to show")
    if view.readonly:
        raise _read_only(buffer)
    if view.ndim != 1:
        width, height, stride = _shaped(view.shape or (), view.strides or (), view.itemsize, size, format, pitch, bpp)
        if not view.c_contiguous:
            if not hasattr(type(buffer), "__array_interface__"):
                raise ValueError(
                    "buffer is not C-contiguous and has no __array_interface__ to say that its rows may lie apart"
                )
            # Rows apart: the first row alone is contiguous, and it starts
            # at the first pixel.
            view = view[:1]
    elif not view.c_contiguous:
        raise ValueError("buffer is not C-contiguous (only an array with __array_interface__ may have rows apart)")
    elif size is None:
        raise ValueError("size (width, height) is required for a flat buffer")
    else:
        width, height = _size(size)
        row = width * bpp
        stride = row if pitch is None else index(pitch)
        _check(width, height, bpp, row, stride)
        end = (height - 1) * stride + row
        if end > view.nbytes:
            raise ValueError(
                f"buffer of {view.nbytes} bytes is too small: {height} rows of "
                f"{width} x {bpp} bytes at pitch {stride} need {end}"
            )
    # A ctypes view of the first byte: its address is the pixels', and it
    # holds the buffer's export for as long as it lives.
    first = ctypes.c_char.from_buffer(view)
    return first, _pixels_at(ctypes.addressof(first), bpp), width, height, bpp, order, stride


def _from_interface(buffer: Any, interface: Any, size: Any, format: str, pitch: Any, bpp: int, order: bytes) -> _Layout:
    """The layout of an array that speaks `__array_interface__` and exports
    no buffer of that shape."""
    shape, strides = interface["shape"], interface.get("strides")
    itemsize = int(interface["typestr"][2:])
    if strides is None:  # C-contiguous
        strides = tuple(itemsize * math.prod(shape[i + 1 :]) for i in range(len(shape)))
    width, height, stride = _shaped(shape, strides, itemsize, size, format, pitch, bpp)
    data = interface.get("data")
    if isinstance(data, tuple):  # (address, read-only)
        if data[1]:
            raise _read_only(buffer)
        keep, address = buffer, data[0]
    else:  # the pixels are those of a buffer object, or of the array's own
        view = memoryview(buffer if data is None else data)
        if view.readonly:
            raise _read_only(buffer)
        first = ctypes.c_char.from_buffer(view)
        keep, address = (buffer, first), ctypes.addressof(first) + interface.get("offset", 0)
    return keep, _pixels_at(address, bpp), width, height, bpp, order, stride


def _shaped(
    shape: Any, strides: Any, itemsize: int, size: Any, format: str, pitch: Any, bpp: int
) -> tuple[int, int, int]:
    """Width, height and row stride of a buffer shaped (height, width[, channels])."""
    if itemsize != 1:
        raise ValueError(f"items must be single bytes, not {itemsize}")
    if len(shape) == 3:
        height, width, channels = shape
        if channels != bpp:
            raise ValueError(f"the array has {channels} channels; format {format!r} has {bpp}")
        if channels > 1 and strides[2] != 1:
            raise ValueError(f"channels must be packed: channel stride {strides[2]}, not 1")
    elif len(shape) == 2:
        if format != "L":
            raise ValueError(f"a 2-D array has one channel: its format is 'L', not {format!r}")
        height, width = shape
    else:
        raise ValueError(
            f"an array of {len(shape)} dimensions: frombuffer takes 2 or 3 (height, width[, channels]) or a flat buffer"
        )
    if width > 1 and strides[1] != bpp:
        raise ValueError(f"pixels in a row must be packed: pixel stride {strides[1]}, not {bpp}")
    stride = strides[0] if height > 1 else width * bpp  # one row: its stride is never used
    if stride <= 0:
        raise ValueError(f"rows must lie at a positive row stride, not {stride}")
    if size is not None and _size(size) != (width, height):
        raise ValueError(f"size {tuple(size)} disagrees with the array's {width}x{height}")
    if pitch is not None and index(pitch) != strides[0]:
        raise ValueError(f"pitch {pitch} disagrees with the array's row stride {strides[0]}")
    _check(width, height, bpp, width * bpp, stride)
    return width, height, stride


def _size(size: Any) -> tuple[int, int]:
    try:
        width, height = size
    except (TypeError, ValueError):
        raise ValueError(f"size must be (width, height), not {size!r}") from None
    return index(width), index(height)


def _check(width: int, height: int, bpp: int, row: int, stride: int) -> None:
    """The layouts that `RImage_asSDLSurface` cannot show, each raised with its rule."""
    if (
        0 < width < _SIDE_LIMIT
        and 0 < height < _SIDE_LIMIT
        and row <= stride <= _INT_MAX
        and (height - 1) * stride + row <= _INT_MAX
        and (bpp != 4 or not stride % 4)
    ):
        return
    if width <= 0 or height <= 0:
        raise ValueError(f"a {width}x{height} image is empty: width and height must be above 0")
    if width >= _SIDE_LIMIT or height >= _SIDE_LIMIT:
        raise ValueError(f"a {width}x{height} image is too large: sides must be below 2**30 - 1")
    if stride < row:
        raise ValueError(f"pitch {stride} is shorter than a row of {width} x {bpp} bytes")
    if stride > _INT_MAX:
        raise ValueError(f"pitch {stride} does not fit a C int")
    if (height - 1) * stride + row > _INT_MAX:
        raise ValueError(f"the last row ends more than INT_MAX ({_INT_MAX}) bytes after the first pixel")
    if bpp == 4 and stride % 4:
        raise ValueError(f"4-channel rows must lie a multiple of 4 bytes apart, not {stride}")


def _read_only(buffer: object) -> TypeError:
    return TypeError(f"{type(buffer).__name__} is read-only: a Surface writes into its pixels")


def _pixels_at(address: int, bpp: int) -> int:
    """`address`, checked as the first pixel's: not null, and 4-byte aligned for 4 channels."""
    if not address:
        raise ValueError("the array's data address is null")
    if bpp == 4 and address % 4:
        raise ValueError(f"4-channel pixels must start at a multiple of 4; {address:#x} is not")
    return address
