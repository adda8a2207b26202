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
- `pixels(surface)`: the other way round, any Surface's pixels as a
  `PixelView` that numpy reads as an array (rows first, memory order), the
  Surface locked while the view lives.
- `RImage`, `record_for(...)`, `pointer_text(...)`: the record's declaration,
  the record `frombuffer` builds, and the text that names a record.
"""

from __future__ import annotations

import ctypes
import itertools
import math
import os
import struct
import sys
import threading
import weakref
from operator import index
from typing import TYPE_CHECKING, Any

import pygame

from Quorvelc import RImage_asSDLSurface

if TYPE_CHECKING:
    from typing_extensions import Self

    from Quorvelc import SupportsThis

__all__ = ["PixelView", "RImage", "frombuffer", "fromrecord", "pixels", "pointer_text", "record_for"]


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
# format: bytes per pixel and the channel order the record carries. These
# five are RImage_asSDLSurface's own.
_RECORD_FORMATS = {"L": (1, b"L"), "RGB": (3, b"RGB"), "BGR": (3, b"BGR"), "RGBA": (4, b"RGBA"), "BGRA": (4, b"BGRA")}
# Every other order of one byte each, in memory order (X: a byte not shown),
# is made by _speedups.surface_at, where SDL has a pixel format for it.
_FORMATS = {
    **_RECORD_FORMATS,
    **{
        "".join(letters): (len(letters), "".join(letters).encode())
        for letters in itertools.chain(
            itertools.permutations("RGB"), itertools.permutations("RGBA"), itertools.permutations("RGBX")
        )
    },
}
_FORMAT_NAMES = ", ".join(_RECORD_FORMATS) + " or another order of a byte each of R, G, B and A or X (RGBX, ARGB, ...)"

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
    arguments: `size` is (width, height), `format` the channel order in memory:
    L (grey), RGB, BGR, RGBA, BGRA, or any other order of a byte each of R, G,
    B and A or X (a byte not shown: RGBX, BGRX, ...) that SDL has a format
    for; `pitch` the bytes from one row to the next.

    `buffer` is an array with `__array_interface__` of 2 or 3 dimensions
    (height, width[, channels]) of unsigned bytes, rows at any positive
    stride, or any other writable C-contiguous buffer of bytes with the pixels
    at its first byte. Nothing is copied: writes through the Surface change
    the buffer and the reverse. The Surface keeps `buffer` referenced and
    exported until it is collected.

    TypeError for a format that is not a str and for a buffer that is
    read-only or none; ValueError, naming the rule, for any layout that
    cannot be shown. Never returns None.
    """
    if _speedups is None and isinstance(format, str) and format not in _RECORD_FORMATS and format in _FORMATS:
        raise ValueError(f"format {format!r} needs Quorvel's compiled module _speedups, which this install lacks")
    keep, address, width, height, bpp, order, stride = _layout(buffer, size, format, pitch)
    if format in _RECORD_FORMATS:
        try:
            record, text = _local.slot
        except AttributeError:
            record, text = _thread_record()
        _pack(record, 0, bpp, 8, order, width, height, address, stride)
        surface = RImage_asSDLSurface(text)
    else:
        surface = _speedups.surface_at(address, width, height, stride, format)
        if surface is not None and _memory_order(bpp, surface.get_masks()) != format:
            surface = None  # SDL 2 gave another order's format: at 24 bits it matches the red mask alone
    if surface is None:
        del keep  # the traceback keeps this frame: a refusal leaves no export
        raise ValueError(f"SDL made no {width}x{height} {format} Surface over this buffer")
    _kept[weakref.ref(surface, _kept.pop)] = keep
    return surface


def record_for(
    buffer: object, size: tuple[int, int] | None = None, format: str = "RGB", pitch: int | None = None
) -> RImage:
    """The RImage that `frombuffer` builds over `buffer`, with the same checks
    and errors, as a new record of its own; its channel order is the format's
    name ("RGBX" for RGBX). It keeps `buffer` referenced and exported while it
    lives: keep it alive while C code uses it."""
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
    layout; raises TypeError or ValueError naming what is wrong, and then
    holds no export of the buffer."""
    try:
        bpp, order = _FORMATS[format]
    except (KeyError, TypeError):
        if not isinstance(format, str):
            raise TypeError(f"format must be a str, not {type(format).__name__}") from None
        raise ValueError(f"format must be one of {_FORMAT_NAMES}, not {format!r}") from None
    # An array may describe a shape that its buffer, if any, does not.
    try:
        view = memoryview(buffer)
    except TypeError:
        return _from_interface(buffer, getattr(buffer, "__array_interface__", None), size, format, pitch, bpp, order)
    with view:  # released on every way out: a traceback keeps this frame
        interface = getattr(buffer, "__array_interface__", None) if view.ndim == 1 else None
        if interface is not None and len(interface["shape"]) != 1:
            view.release()
            return _from_interface(buffer, interface, size, format, pitch, bpp, order)
        if view.readonly:
            raise _read_only(buffer)
        if view.format.lstrip("@=<>!") not in ("B", "c"):
            raise ValueError(f"items must be single bytes (uint8), not {_item_name(view.format, view.itemsize)}")
        if view.ndim != 1:
            width, height, stride = _shaped(view.shape or (), view.strides or (), size, format, pitch, bpp)
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
            _fits(view.nbytes, 0, width, height, bpp, stride)
        # Unpacked first: CPython leaks the items of a starred call whose
        # tuple cannot be built for want of memory, and with them the export.
        first, address = _first_pixel(view, bpp)
        return first, address, width, height, bpp, order, stride


def _from_interface(buffer: Any, interface: Any, size: Any, format: str, pitch: Any, bpp: int, order: bytes) -> _Layout:
    """The layout of an array that speaks `__array_interface__` and exports
    no buffer of that shape; of a buffer-less object when `interface` is None."""
    if interface is None:
        way_out = "; its .get() gives its array" if callable(getattr(buffer, "get", None)) else ""
        raise TypeError(f"{type(buffer).__name__} has no buffer to show{way_out}")
    shape, strides, typestr = interface["shape"], interface.get("strides"), interface["typestr"]
    if not isinstance(typestr, str) or typestr[1:] != "u1" or typestr[:1] not in "|<>=":
        raise ValueError(f"items must be single bytes (uint8), not {_item_name(typestr, 0)}")
    if strides is None:  # C-contiguous
        strides = tuple(math.prod(shape[i + 1 :]) for i in range(len(shape)))
    width, height, stride = _shaped(shape, strides, size, format, pitch, bpp)
    data = interface.get("data")
    if isinstance(data, tuple):  # (address, read-only): trusted, as numpy trusts it
        if data[1]:
            raise _read_only(buffer)
        return buffer, _pixels_at(index(data[0]), bpp), width, height, bpp, order, stride
    # The pixels are those of a buffer object, or of the array's own: they
    # must lie within it.
    try:
        view = memoryview(buffer if data is None else data)
    except TypeError:
        raise TypeError(f"{type(buffer).__name__}'s __array_interface__ data has no buffer to show") from None
    with view:
        if view.readonly:
            raise _read_only(buffer)
        if not view.c_contiguous:
            raise ValueError("the __array_interface__ data buffer is not C-contiguous")
        offset = index(interface.get("offset", 0))
        if offset < 0:
            raise ValueError(f"the __array_interface__ offset must not be negative, not {offset}")
        _fits(view.nbytes, offset, width, height, bpp, stride)
        first, address = _first_pixel(view, bpp, offset)
    return (buffer, first), address, width, height, bpp, order, stride


def _shaped(shape: Any, strides: Any, size: Any, format: str, pitch: Any, bpp: int) -> tuple[int, int, int]:
    """Width, height and row stride of a buffer of bytes shaped (height, width[, channels])."""
    if len(shape) == 3:
        height, width, channels = shape
        if channels != bpp:
            raise ValueError(f"the array has {channels} channels; format {format!r} has {bpp}")
        if channels > 1 and strides[2] != 1:
            raise ValueError(f"channels must be packed: channel stride {strides[2]}, not 1{_COPY}")
    elif len(shape) == 2:
        if format != "L":
            raise ValueError(f"a 2-D array has one channel: its format is 'L', not {format!r}")
        height, width = shape
    else:
        raise ValueError(
            f"an array of {len(shape)} dimensions: frombuffer takes 2 or 3 (height, width[, channels]) or a flat buffer"
        )
    if width > 1 and strides[1] != bpp:
        raise ValueError(f"pixels in a row must be packed: pixel stride {strides[1]}, not {bpp}{_COPY}")
    stride = strides[0] if height > 1 else width * bpp  # one row: its stride is never used
    if stride <= 0:
        way_out = _COPY if stride == 0 else _BOTTOM_UP
        raise ValueError(f"rows must lie at a positive row stride, not {stride}{way_out}")
    if size is not None and _size(size) != (width, height):
        raise ValueError(f"size {tuple(size)} disagrees with the array's {width}x{height}")
    if pitch is not None and index(pitch) != strides[0]:
        raise ValueError(f"pitch {pitch} disagrees with the array's row stride {strides[0]}")
    _check(width, height, bpp, width * bpp, stride)
    return width, height, stride


_COPY = "; np.ascontiguousarray(...) gives a packed copy"
_BOTTOM_UP = "; SDL shows rows top-down only: copy with np.ascontiguousarray(...), or flip the Surface with pygame.transform.flip"


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


def _fits(nbytes: int, offset: int, width: int, height: int, bpp: int, stride: int) -> None:
    """Raises unless the pixels, from `offset` to the last byte of the last row, lie within `nbytes`."""
    end = offset + (height - 1) * stride + width * bpp
    if end > nbytes:
        raise ValueError(
            f"buffer of {nbytes} bytes is too small: {height} rows of {width} x {bpp} bytes "
            f"at pitch {stride}" + (f" from offset {offset}" if offset else "") + f" need {end}"
        )


def _first_pixel(view: memoryview, bpp: int, offset: int = 0) -> tuple[ctypes.c_char, int]:
    """A ctypes object over the first byte of `view`, which holds the buffer's
    export for as long as it lives, and the address `offset` bytes on,
    checked as the first pixel's. Releases `view`; on a refusal no export is
    left."""
    with view:
        first = ctypes.c_char.from_buffer(view)
    try:
        return first, _pixels_at(ctypes.addressof(first) + offset, bpp)
    except ValueError:
        del first  # the traceback keeps this frame
        raise


def _item_name(code: object, itemsize: int) -> str:
    """numpy's name for the items of struct `code` (`itemsize` bytes each) or
    of an `__array_interface__` typestr (itemsize 0), with the code itself."""
    if not isinstance(code, str):
        return repr(code)
    kind = code.lstrip("@=<>!|")
    if itemsize:
        name = _STRUCT_ITEMS.get(kind)
    else:
        name = _TYPESTR_ITEMS.get(kind[:1])
        itemsize = int(kind[1:]) if kind[1:].isdigit() else 0
    if name is None or not itemsize:
        return repr(code)
    return f"{name}{'' if name == 'bool' else 8 * itemsize} ({code!r})"


_STRUCT_ITEMS = {
    **dict.fromkeys("bhilqn", "int"),
    **dict.fromkeys("BHILQN", "uint"),
    "?": "bool",
    "e": "float",
    "f": "float",
    "d": "float",
}
_TYPESTR_ITEMS = {"b": "bool", "i": "int", "u": "uint", "f": "float", "c": "complex"}


def _read_only(buffer: object) -> TypeError:
    return TypeError(f"{type(buffer).__name__} is read-only: a Surface writes into its pixels")


def _pixels_at(address: int, bpp: int) -> int:
    """`address`, checked as the first pixel's: not null, a pointer, and 4-byte aligned for 4 channels."""
    if not address:
        raise ValueError("the array's data address is null")
    if not 0 < address < _POINTER_LIMIT:
        raise ValueError(f"the array's data address {address:#x} does not fit a {_POINTER_SIZE}-byte pointer")
    if bpp == 4 and address % 4:
        raise ValueError(f"4-channel pixels must start at a multiple of 4; {address:#x} is not")
    return address


class PixelView:
    """A Surface's pixels as they lie in memory, rows first: what
    `pixels(surface)` gives. numpy reads it as an array without a copy
    (`np.asarray(view)`) through `__array_interface__`.

    The view keeps its Surface alive and locked, as pygame's own pixel arrays
    do, until it is released: by `release()`, at the end of a `with` block,
    or when it is collected. While it is locked, nothing can be blitted onto
    or from the Surface. Once the Surface's pixels move (the display after
    `set_mode` or a resize) or the view is released, reading its layout
    raises ValueError rather than point at memory it no longer shows.
    """

    __slots__ = ("_address", "_format", "_lock", "_placed", "_shape", "_strides", "_surface")

    def __init__(self, surface: pygame.surface.Surface) -> None:
        self._lock: object = None
        if not isinstance(surface, pygame.Surface):
            raise TypeError(f"pixels takes a pygame.Surface, not {type(surface).__name__}")
        bpp, masks = surface.get_bytesize(), surface.get_masks()
        self._format = _memory_order(bpp, masks)
        if not self._format:
            raise ValueError(
                f"a {surface.get_bitsize()}-bit Surface with masks {tuple(map(hex, masks))} has no byte for each "
                "channel: pixels shows 8-bit palette Surfaces and 24- or 32-bit ones whose channels are whole bytes"
            )
        # The buffer proxy is the lock's owner: dropping it releases this
        # lock and no other, whether or not set_mode kept it.
        lock = surface.get_buffer()
        # A subsurface's pixels lie in its topmost parent's; a stale subsurface
        # of the display (pygame-ce keeps its old address) must not be shown.
        self._placed = placed = _placement(surface)
        (root, root_size, root_pitch, self._address, (width, height), (x, y)) = placed
        if self._address != root + y * root_pitch + x * bpp or x + width > root_size[0] or y + height > root_size[1]:
            del lock  # the traceback keeps this frame: a refusal leaves no lock
            raise ValueError("the subsurface no longer lies within its parent's pixels, which moved")
        self._surface, self._lock = surface, lock
        pitch = surface.get_pitch()
        self._shape = (height, width) if bpp == 1 else (height, width, bpp)
        self._strides = (pitch, 1) if bpp == 1 else (pitch, bpp, 1)

    @property
    def surface(self) -> pygame.surface.Surface:
        """The Surface whose pixels this view shows."""
        return self._surface

    @property
    def format(self) -> str:
        """The channel order in memory, a letter per byte: "P" for 8-bit
        palette indices, else R, G, B, A, X (a byte not shown), as in "BGRX"."""
        return self._format

    @property
    def address(self) -> int:
        """The address of the first pixel."""
        self._check_placed()
        return self._address

    @property
    def shape(self) -> tuple[int, ...]:
        """(height, width) for 8 bits, (height, width, bytes per pixel) else."""
        self._check_placed()
        return self._shape

    @property
    def strides(self) -> tuple[int, ...]:
        """Bytes from one row, pixel and channel to the next."""
        self._check_placed()
        return self._strides

    @property
    def __array_interface__(self) -> dict[str, object]:
        self._check_placed()
        return {
            "version": 3,
            "typestr": "|u1",
            "data": (self._address, False),
            "shape": self._shape,
            "strides": self._strides,
        }

    def release(self) -> None:
        """Drops the view's lock on the Surface (and no other lock); the
        view's layout can no longer be read. Harmless when already released
        or when pygame dropped the lock on set_mode."""
        self._lock = None

    def __enter__(self) -> Self:
        return self

    def __exit__(self, *exception: object) -> None:
        self.release()

    def _check_placed(self) -> None:
        if self._lock is None:
            raise ValueError("the pixel view was released")
        try:
            moved = _placement(self._surface) != self._placed
        except pygame.error:  # the display quit
            moved = True
        if moved:
            raise ValueError(
                "the Surface's pixels moved (set_mode or a resize) since this view was made: take a fresh pixels(surface)"
            )


def pixels(surface: pygame.surface.Surface) -> PixelView:
    """The pixels of `surface` (8, 24 or 32 bits per pixel), no copy, as a
    `PixelView`: shape (height, width) or (height, width, 3 or 4), strides
    (pitch, bytes per pixel, 1), `format` their order in memory. The Surface
    stays locked until the view is released (`with pixels(s) as view:`).

    TypeError for anything but a Surface; ValueError for a Surface whose
    channels are not whole bytes (16 bits among them). A refusal locks nothing.
    """
    return PixelView(surface)


def _memory_order(bpp: int, masks: tuple[int, ...]) -> str:
    """The format name of pixels of `bpp` bytes with these (R, G, B, A)
    masks: a letter per byte in memory order; "" when a channel is not a
    whole byte of its own."""
    if bpp == 1:
        return "" if any(masks) else "P"
    letters = ["X"] * bpp
    for letter, mask in zip("RGBA", masks):
        shift = mask.bit_length() - 8
        if letter == "A" and not mask:
            continue
        if bpp not in (3, 4) or shift < 0 or shift % 8 or mask != 0xFF << shift or shift >= 8 * bpp:
            return ""
        at = shift // 8 if sys.byteorder == "little" else bpp - 1 - shift // 8
        if letters[at] != "X":
            return ""
        letters[at] = letter
    return "".join(letters) if bpp == 4 or "X" not in letters else ""


def _placement(
    surface: pygame.surface.Surface,
) -> tuple[int, tuple[int, int], int, int, tuple[int, int], tuple[int, int]]:
    """Where `surface`'s pixels lie: its topmost parent's address, size and
    pitch, its own address, size and offset in that parent."""
    root = surface.get_abs_parent()
    return (
        root._pixels_address,
        root.get_size(),
        root.get_pitch(),
        surface._pixels_address,
        surface.get_size(),
        surface.get_abs_offset(),
    )


try:
    from Quorvel import _speedups
except ImportError:  # a source tree with no build: the pure-Python path alone
    _speedups = None  # type: ignore[assignment]
if _speedups is not None and not os.environ.get("QUORVEL_PURE_PYTHON"):
    frombuffer = _speedups.fast_frombuffer(frombuffer, _kept)
