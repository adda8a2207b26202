"""Quorvel against numpy, by property: generated arrays, array-interface
objects, flat buffers and Surfaces. Each `frombuffer` or `record_for` call
either refuses (TypeError or ValueError) with its memory, a guard band around
it, the keeper table and every export as they were, or gives what numpy reads
in that same memory; `pixels` gives what `get_at` reads.

The `tests` session runs a fixed, bounded set of examples; QUORVEL_PROPERTIES=long
(the `fuzz` session) runs many more and keeps hypothesis's database in build/.
"""

import array
import ctypes
import gc
import os
import sys
from pathlib import Path

import pygame
import pytest

pytest.importorskip("hypothesis", reason="hypothesis (the test extra) generates the layouts")
from hypothesis import HealthCheck, event, example, given, settings
from hypothesis import strategies as st
from hypothesis.database import DirectoryBasedExampleDatabase

import Quorvel

try:
    import numpy as np
except ImportError:
    np = None

settings.register_profile(
    "tests", derandomize=True, max_examples=500, deadline=None, database=None, suppress_health_check=list(HealthCheck)
)
settings.register_profile(
    "long",
    max_examples=20_000,
    deadline=None,
    database=DirectoryBasedExampleDatabase(Path(__file__).resolve().parents[2] / "build" / "hypothesis"),
    suppress_health_check=list(HealthCheck),
)
settings.load_profile(os.environ.get("QUORVEL_PROPERTIES", "tests"))
needs_numpy = pytest.mark.skipif(np is None, reason="numpy is the oracle of these layouts")

# Every name frombuffer may take for pixels of whole bytes, one letter a byte in memory order.
FORMATS = ["L", "RGB", "BGR", "RGBA", "BGRA", "RGBX", "BGRX", "ARGB", "XBGR", "GBR", "RBG", "XGBR"]
# The names that need the compiled module to be shown.
COMPILED_ONLY = [f for f in FORMATS if f not in ("L", "RGB", "BGR", "RGBA", "BGRA")]
GUARD = 16  # bytes of guard band on each side of the memory under test
DTYPES = ["u1", "b1", "i1", "<u2", "<f4"]
REFUSED = (TypeError, ValueError)


def bytes_per_pixel(fmt):
    return 1 if fmt == "L" else len(fmt)


def colour(fmt, values):
    """The colour get_at gives for a pixel whose bytes, in memory order, numpy reads as `values`."""
    if fmt == "L":
        return (values[0],) * 3 + (255,)
    channel = dict(zip(fmt, values))
    return channel["R"], channel["G"], channel["B"], channel.get("A", 255)


def stored(fmt, rgba, unused):
    """The bytes of a pixel filled with `rgba`; `unused` stands for what the fill left in an X byte."""
    if fmt == "L":
        return [rgba[0]]
    return [unused if c == "X" else rgba["RGBA".index(c)] for c in fmt]


# The orders SDL has a pixel format for: grey, RGB or BGR with A or X (or nothing) at either end.
SDL_ORDERS = (
    {"L", "RGB", "BGR"} | {e + c for c in ("RGB", "BGR") for e in "AX"} | {c + e for c in ("RGB", "BGR") for e in "AX"}
)


def showable(fmt):
    """Whether this Quorvel can make a Surface of `fmt` at all."""
    return fmt in SDL_ORDERS and (fmt not in COMPILED_ONLY or getattr(Quorvel, "_speedups", None) is not None)


class Refusal(tuple):
    """A refusal's type and words, without the traceback whose frames would keep the buffer."""


def formats_for(shape):
    """Formats, the ones whose pixels fit an array of `shape` drawn more often than the rest."""
    fitting = [f for f in FORMATS if (len(shape) == 2 and f == "L") or shape[2:] == (bytes_per_pixel(f),)]
    return st.sampled_from(fitting or FORMATS) | st.sampled_from(FORMATS)


def outcome(function, *args, **kwargs):
    try:
        return function(*args, **kwargs)
    except REFUSED as error:  # any other exception fails the property
        return Refusal((type(error), str(error)))


def same_refusal(first, second):
    """record_for refuses what frombuffer refuses, by the same words; only
    SDL's own refusal of a layout is frombuffer's alone."""
    return first == second or (first[0] is ValueError and "SDL made no" in first[1])


def check_view_of(surface, fmt, read):
    """`pixels(surface)`, taken and released, describes the Surface's own memory,
    which `read(x, y)` gives as a pixel's bytes."""
    width, height = surface.get_size()
    bpp = bytes_per_pixel(fmt)
    with Quorvel.pixels(surface) as view:
        assert surface.get_locked()
        assert view.format == ("P" if fmt == "L" else fmt)
        assert view.address == surface._pixels_address
        assert view.shape == ((height, width) if bpp == 1 else (height, width, bpp))
        assert view.strides[1:] == ((bpp, 1) if bpp > 1 else (1,))
        at = [(x, y) for y in range(height) for x in range(width)]
        assert [ctypes.string_at(view.address + y * view.strides[0] + x * bpp, bpp) for x, y in at] == [
            bytes(read(x, y)) for x, y in at
        ]
        if np is not None:
            shown = np.asarray(view)
            assert shown.dtype == np.uint8 and shown.__array_interface__["data"][0] == view.address
            assert [bytes(shown[y, x].reshape(-1)) for x, y in at] == [bytes(read(x, y)) for x, y in at]
        del view
    assert not surface.get_locked()


def check_surface(surface, fmt, read, memory, write_pixels):
    """A Surface over `memory` (the bytes under test, guard band included) whose
    pixel (x, y) numpy or Python reads as `read(x, y)`. `write_pixels(rgba, unused)`
    writes a colour into every pixel the Python way and gives the memory it leaves."""
    width, height = surface.get_size()
    at = [(x, y) for y in range(height) for x in range(width)]
    assert [tuple(surface.get_at(p)) for p in at] == [colour(fmt, read(*p)) for p in at]
    check_view_of(surface, fmt, read)
    before = bytes(memory)
    rgba = (201, 13, 77, 140 if "A" in fmt else 255) if fmt != "L" else (77, 77, 77, 255)
    surface.fill(rgba)
    filled = bytes(memory)
    # What the fill left in the unused byte of the first pixel (SDL's choice) stands for every pixel's.
    unused = read(0, 0)[fmt.index("X")] if "X" in fmt else None
    memory[:] = before
    assert filled == write_pixels(rgba, unused), "the fill changed other bytes than the pixels'"


def settled(check):
    """Whether `check()` holds, at once or after a collection (which is slow, and
    needed only where a reference cycle holds what the check looks for)."""
    return check() or (gc.collect() or check())


def exports_free(release):
    """A check that `release()` (resizing or releasing the memory) succeeds:
    no Surface, record or leftover keeps an export of it."""

    def check():
        try:
            release()
        except BufferError:
            return False
        return True

    return check


# --- numpy arrays and views -------------------------------------------------


@st.composite
def array_cases(draw):
    """Half plain (bytes, rows of a region, pixels packed, a format that fits), half anything."""
    if draw(st.booleans()):
        fmt = draw(st.sampled_from(FORMATS))
        bpp = bytes_per_pixel(fmt)
        shape = [draw(st.integers(1, 9)), draw(st.integers(1, 9))] + [bpp] * draw(
            st.booleans() if bpp == 1 else st.just(1)
        )
        region = st.integers(0, 2).flatmap(
            lambda start: st.tuples(st.just(start), st.integers(start + 1, 9), st.just(1))
        )
        return dict(
            dtype="u1",
            shape=tuple(shape),
            order="C",
            sliced=draw(st.none() | st.tuples(region, region)),
            axes=None,
            read_only=False,
            shift=draw(st.sampled_from([0, 0, 1, 2])),
            seed=draw(st.integers(0, 255)),
            fmt=fmt,
        )
    ndim = draw(st.sampled_from([2, 3, 3, 0, 1, 4]))
    shape = draw(st.lists(st.integers(0, 9), min_size=ndim, max_size=ndim))
    if ndim == 3 and draw(st.booleans()):
        shape[2] = draw(st.sampled_from([1, 3, 4]))
    step = st.sampled_from([-2, -1, 1, 2, 3])
    bound = st.integers(-10, 10) | st.none()
    sliced = [draw(st.none() | st.tuples(bound, bound, step)) for _ in range(ndim)]
    return dict(
        dtype=draw(st.sampled_from(["u1", "u1", *DTYPES])),
        shape=tuple(shape),
        order=draw(st.sampled_from("CF")),
        sliced=draw(st.none() | st.just(tuple(sliced))),
        axes=draw(st.none() | st.permutations(range(ndim)).map(tuple)),
        read_only=draw(st.sampled_from([False, False, True])),
        shift=draw(st.integers(0, 3)),
        seed=draw(st.integers(0, 255)),
        fmt=draw(formats_for(tuple(shape))),
    )


def build_array(case):
    """The array a case describes, as a view into a byte array of its own with a guard band around it."""
    itemsize = np.dtype(case["dtype"]).itemsize
    nbytes = itemsize * int(np.prod(case["shape"]))
    memory = np.random.default_rng(case["seed"]).integers(0, 256, 2 * GUARD + 4 + nbytes, dtype=np.uint8)
    start = GUARD + case["shift"]
    made = memory[start : start + nbytes].view(case["dtype"]).reshape(case["shape"], order=case["order"])
    if case["sliced"]:  # a 0-D array stays an array
        made = made[tuple(slice(*s) if s else slice(None) for s in case["sliced"])]
    if case["axes"] is not None:
        made = made.transpose(case["axes"])
    if case["read_only"]:
        made.flags.writeable = False
    return memory, made


def plainly_showable(made, fmt):
    """An array no rule refuses: bytes, writable, C-contiguous, (h, w[, channels]) for its format, aligned."""
    bpp = bytes_per_pixel(fmt)
    shape_fits = made.shape[2:] == ((bpp,) if made.ndim == 3 else ()) and (made.ndim == 3 or fmt == "L")
    return (
        made.dtype == np.uint8
        and made.flags.writeable
        and made.flags.c_contiguous
        and made.ndim in (2, 3)
        and shape_fits
        and min(made.shape) > 0
        and (bpp != 4 or made.ctypes.data % 4 == 0)
        and showable(fmt)
    )


def pixel_reader(made):
    return lambda x, y: made[y, x].reshape(-1).tolist()


def numpy_fill(memory, made, fmt):
    """write_pixels for an array: numpy writes the colour through the array itself."""

    def write_pixels(rgba, unused):
        pixel = stored(fmt, rgba, unused)
        made[...] = pixel[0] if made.ndim == 2 else pixel
        return bytes(memory)

    return write_pixels


@needs_numpy
@given(array_cases())
# Signed bytes and booleans are bytes of another item type, never grey.
@example(dict(dtype="i1", shape=(2, 3), order="C", sliced=None, axes=None, read_only=False, shift=0, seed=1, fmt="L"))
@example(dict(dtype="b1", shape=(3, 2), order="C", sliced=None, axes=None, read_only=False, shift=0, seed=1, fmt="L"))
# Rows bottom-up, and a region of a Fortran-order array.
@example(
    dict(
        dtype="u1",
        shape=(4, 3, 3),
        order="C",
        sliced=((None, None, -1), None, None),
        axes=None,
        read_only=False,
        shift=0,
        seed=2,
        fmt="BGR",
    )
)
@example(
    dict(
        dtype="u1",
        shape=(5, 4, 4),
        order="C",
        sliced=((1, 4, 1), (1, 3, 1), None),
        axes=None,
        read_only=False,
        shift=0,
        seed=3,
        fmt="BGRX",
    )
)
def test_arrays_are_shown_as_numpy_reads_them(case):
    memory, made = build_array(case)
    fmt, before, kept, references = case["fmt"], memory.tobytes(), len(Quorvel._kept), sys.getrefcount(made)
    surface = outcome(Quorvel.frombuffer, made, format=fmt)
    record = outcome(Quorvel.record_for, made, format=fmt)
    event("refused" if isinstance(surface, Refusal) else "shown")  # --hypothesis-show-statistics
    if isinstance(surface, Refusal):
        assert not plainly_showable(made, fmt), f"refused a plain array: {surface}"
        assert same_refusal(surface, record)
        assert memory.tobytes() == before, "a refusal wrote into the array"
    else:
        assert made.dtype == np.uint8, "items that are not unsigned bytes were shown"
        check_record(record, made, fmt, surface)
        check_surface(surface, fmt, pixel_reader(made), memoryview(memory), numpy_fill(memory, made, fmt))
        del surface
    del record
    assert settled(lambda: (len(Quorvel._kept), sys.getrefcount(made)) == (kept, references)), (
        "something still keeps the array"
    )


def check_record(record, made, fmt, surface):
    """record_for's record: its fields say where numpy reads each pixel."""
    bpp = bytes_per_pixel(fmt)
    height, width = made.shape[:2]
    assert not isinstance(record, Refusal), f"frombuffer showed what record_for refused: {record}"
    assert (record.width, record.height, record.channels, record.depth) == (width, height, bpp, 8)
    assert record.channel_order == fmt[:4].encode()
    assert record.pixels == surface._pixels_address
    assert record.row_stride == surface.get_pitch() and record.row_stride >= width * bpp
    assert [
        list(ctypes.string_at(record.pixels + y * record.row_stride + x * bpp, bpp))
        for y in range(height)
        for x in range(width)
    ] == [made[y, x].reshape(-1).tolist() for y in range(height) for x in range(width)]


# --- objects that speak only __array_interface__ ----------------------------


class Interface:
    """An array in name only: a dict, and the buffer it names."""

    def __init__(self, interface):
        self.interface = interface

    @property
    def __array_interface__(self):
        return self.interface


@st.composite
def interface_cases(draw):
    """Half plain (bytes, packed pixels, rows at or past a row apart, inside the buffer), half anything."""
    if draw(st.booleans()):
        fmt = draw(st.sampled_from(FORMATS))
        bpp = bytes_per_pixel(fmt)
        height, width = draw(st.integers(1, 9)), draw(st.integers(1, 9))
        pitch = width * bpp + draw(st.sampled_from([0, 0, 4, 8, 1]))
        offset = draw(st.sampled_from([0, 0, 4, 3]))
        three = bpp > 1 or draw(st.booleans())
        return dict(
            typestr="|u1",
            shape=(height, width, bpp) if three else (height, width),
            strides=draw(st.none() | st.just((pitch, bpp, 1) if three else (pitch, 1))),
            length=offset + (height - 1) * pitch + width * bpp + draw(st.integers(0, 9)),
            offset=offset,
            data=draw(st.sampled_from(["guarded", "bytearray"])),
            seed=draw(st.integers(0, 255)),
            fmt=fmt,
        )
    ndim = draw(st.sampled_from([2, 3, 3, 1, 4]))
    shape = draw(st.lists(st.integers(0, 9), min_size=ndim, max_size=ndim))
    if ndim == 3 and draw(st.booleans()):
        shape[2] = draw(st.sampled_from([1, 3, 4]))
    return dict(
        typestr=draw(st.sampled_from(["|u1", "|u1", "|u1", "|b1", "|i1", "<u2", "<f4"])),
        shape=tuple(shape),
        strides=draw(st.none() | st.lists(st.integers(-12, 40), min_size=ndim, max_size=ndim).map(tuple)),
        length=draw(st.integers(0, 300)),
        offset=draw(st.none() | st.integers(-4, 310)),
        data=draw(st.sampled_from(["guarded", "guarded", "bytearray", "read-only"])),
        seed=draw(st.integers(0, 255)),
        fmt=draw(formats_for(tuple(shape))),
    )


@needs_numpy
@given(interface_cases())
# A shape far larger than its buffer, and an offset far past its end.
@example(
    dict(typestr="|u1", shape=(1000, 1000, 3), strides=None, length=10, offset=None, data="guarded", seed=0, fmt="RGB")
)
@example(
    dict(typestr="|u1", shape=(2, 2, 3), strides=None, length=12, offset=1_000_000, data="guarded", seed=0, fmt="RGB")
)
def test_array_interfaces_are_checked_against_their_buffers(case):
    whole = bytearray(np.random.default_rng(case["seed"]).integers(0, 256, case["length"] + 2 * GUARD, np.uint8))
    start = GUARD
    if case["data"] == "bytearray":  # no guard band: the buffer is all there is
        whole, start = bytearray(whole[GUARD:-GUARD]), 0
    window = memoryview(whole)[start : start + case["length"]]
    data = window.toreadonly() if case["data"] == "read-only" else window
    interface = {"version": 3, "typestr": case["typestr"], "shape": case["shape"], "data": data}
    interface.update({k: case[k] for k in ("strides", "offset") if case[k] is not None})
    fmt, before, kept = case["fmt"], bytes(whole), len(Quorvel._kept)
    try:  # numpy's own reading of the same memory, where numpy finds it inside the buffer
        made = np.ndarray(case["shape"], case["typestr"], data, case["offset"] or 0, case["strides"])
    except (ValueError, TypeError):
        made = None
    surface = outcome(Quorvel.frombuffer, Interface(interface), format=fmt)
    record = outcome(Quorvel.record_for, Interface(interface), format=fmt)
    event("refused" if isinstance(surface, Refusal) else "shown")  # --hypothesis-show-statistics
    if isinstance(surface, Refusal):
        assert same_refusal(surface, record)
        assert bytes(whole) == before, "a refusal wrote into the buffer or its guard band"
    else:
        assert made is not None, "a Surface over memory that numpy finds outside the buffer"
        assert made.dtype == np.uint8 and case["data"] != "read-only"
        check_record(record, made, fmt, surface)
        check_surface(surface, fmt, pixel_reader(made), memoryview(whole), numpy_fill(whole, made, fmt))
        del surface
    del record, made
    assert len(Quorvel._kept) == kept
    assert settled(exports_free(lambda: (data.release(), window.release(), whole.extend(b"+")))), "an export is left"


# --- flat buffers: no numpy needed ------------------------------------------


@st.composite
def flat_cases(draw):
    """Half plain (bytes, enough of them, rows at or past a row apart), half anything."""
    fmt = draw(st.sampled_from(FORMATS))
    if draw(st.booleans()):
        bpp = bytes_per_pixel(fmt)
        width, height = draw(st.integers(1, 9)), draw(st.integers(1, 9))
        pitch = draw(st.none() | st.sampled_from([0, 4, 8, 1]).map(lambda pad: width * bpp + pad))
        return dict(
            kind=draw(st.sampled_from(["bytearray", "guarded", "guarded c", "array B"])),
            length=(height - 1) * (pitch or width * bpp) + width * bpp + draw(st.integers(0, 9)),
            shift=draw(st.sampled_from([0, 0, 1, 2])),
            size=(width, height),
            pitch=pitch,
            seed=draw(st.integers(0, 255)),
            fmt=fmt,
        )
    return dict(
        kind=draw(st.sampled_from(["bytearray", "guarded", "guarded c", "guarded b", "array B", "array b", "array H"])),
        length=draw(st.integers(0, 400)),
        shift=draw(st.integers(0, 3)),
        size=draw(st.tuples(st.integers(-1, 9), st.integers(-1, 9))),
        pitch=draw(st.none() | st.integers(0, 44) | st.integers(-8, 1 << 31)),
        seed=draw(st.integers(0, 255)),
        fmt=fmt,
    )


def build_flat(case):
    """(the buffer, its memory as bytes to slice and assign (guard band included),
    where the buffer starts in it, how to prove no export of it is left)."""
    import random

    content = random.Random(case["seed"]).randbytes(case["length"] + 2 * GUARD + 4)
    kind, length = case["kind"], case["length"]
    if kind == "bytearray":
        whole = bytearray(content[:length])
        return whole, whole, 0, lambda: whole.extend(b"+")
    if kind.startswith("array"):
        made = array.array(kind[-1])
        made.frombytes(content[: length - length % made.itemsize])
        memory = memoryview(made).cast("B")
        return made, memory, 0, lambda: (memory.release(), made.append(0))
    whole = bytearray(content)
    start = GUARD + case["shift"]
    window = memoryview(whole)[start : start + length]
    made = window.cast(kind[-1]) if kind[-1] in "bc" else window
    return made, whole, start, lambda: (made.release(), window.release(), whole.extend(b"+"))


@given(flat_cases())
@example(dict(kind="guarded b", length=12, shift=0, size=(2, 2), pitch=None, seed=0, fmt="RGB"))  # signed bytes
@example(dict(kind="array H", length=24, shift=0, size=(2, 2), pitch=None, seed=0, fmt="RGB"))  # 2-byte items
@example(dict(kind="guarded", length=60, shift=0, size=(3, 4), pitch=12, seed=5, fmt="BGRX"))
# 24-bit orders SDL has no format for: refused, never shown with another order's masks.
@example(dict(kind="bytearray", length=3, shift=0, size=(1, 1), pitch=None, seed=0, fmt="GBR"))
@example(dict(kind="bytearray", length=3, shift=0, size=(1, 1), pitch=None, seed=0, fmt="RBG"))
def test_flat_buffers_are_shown_byte_for_byte(case):
    made, memory, start, export_free = build_flat(case)
    fmt, (width, height), before, kept = case["fmt"], case["size"], bytes(memory), len(Quorvel._kept)
    bpp = bytes_per_pixel(fmt)
    pitch = width * bpp if case["pitch"] is None else case["pitch"]
    surface = outcome(Quorvel.frombuffer, made, case["size"], fmt, case["pitch"])
    record = outcome(Quorvel.record_for, made, case["size"], fmt, case["pitch"])
    event("refused" if isinstance(surface, Refusal) else "shown")  # --hypothesis-show-statistics
    if isinstance(surface, Refusal):
        plain = case["kind"] in ("bytearray", "guarded", "guarded c") and case["pitch"] is None and showable(fmt)
        if plain and width > 0 and height > 0 and case["length"] >= width * height * bpp:
            aligned = bpp != 4 or ctypes.addressof(ctypes.c_char.from_buffer(memory, start)) % 4 == 0
            assert not aligned, f"refused a plain buffer: {surface}"
        assert same_refusal(surface, record)
        assert bytes(memory) == before, "a refusal wrote into the buffer or its guard band"
    else:
        assert case["kind"] not in ("guarded b", "array b", "array H"), "items that are not unsigned bytes were shown"
        assert (height - 1) * pitch + width * bpp <= case["length"], "a Surface over bytes past the buffer"
        assert (record.width, record.height, record.row_stride, record.pixels) == (
            width,
            height,
            pitch,
            surface._pixels_address,
        )

        def read(x, y):
            at = start + y * pitch + x * bpp
            return list(memory[at : at + bpp])

        def write_pixels(rgba, unused):
            expected = bytearray(before)
            for y in range(height):
                at = start + y * pitch
                expected[at : at + width * bpp] = bytes(stored(fmt, rgba, unused)) * width
            return bytes(expected)

        check_surface(surface, fmt, read, memory, write_pixels)
        del surface
    del record
    assert len(Quorvel._kept) == kept
    assert settled(exports_free(export_free)), "an export is left"


# --- pixels over Surfaces of pygame's own -----------------------------------

# (depth, flags, masks or None for pygame's own): what pixels names them
SURFACE_KINDS = [
    (8, 0, None),
    (24, 0, None),
    (24, 0, (0xFF, 0xFF00, 0xFF0000, 0)),
    (32, 0, None),
    (32, pygame.SRCALPHA, None),
    (32, 0, (0xFF, 0xFF00, 0xFF0000, 0)),
    (32, pygame.SRCALPHA, (0xFF00, 0xFF0000, 0xFF000000, 0xFF)),
    (16, 0, None),  # channels of 5 and 6 bits: refused
]


@given(
    st.sampled_from(range(len(SURFACE_KINDS))),
    st.integers(1, 9),
    st.integers(1, 9),
    st.none() | st.tuples(st.integers(0, 8), st.integers(0, 8), st.integers(0, 9), st.integers(0, 9)),
    st.integers(0, 255),
)
def test_pixels_gives_what_get_at_reads(kind, width, height, region, seed):
    import random

    depth, flags, masks = SURFACE_KINDS[kind]
    whole = (
        pygame.Surface((width, height), flags, depth, masks) if masks else pygame.Surface((width, height), flags, depth)
    )
    whole.get_buffer().write(random.Random(seed).randbytes(whole.get_pitch() * height), 0)
    surface = whole
    if region is not None:
        rect = pygame.Rect(region).clip(whole.get_rect())
        if rect.width and rect.height:
            surface = whole.subsurface(rect)
    bpp = surface.get_bytesize()
    if depth == 16:
        with pytest.raises(ValueError):
            Quorvel.pixels(surface)
        assert not whole.get_locked()
        return
    with Quorvel.pixels(surface) as view:
        fmt = "L" if view.format == "P" else view.format
        pitch, address = view.strides[0], view.address

        def read(x, y):
            return list(ctypes.string_at(address + y * pitch + x * bpp, bpp))

        at = [(x, y) for y in range(surface.get_height()) for x in range(surface.get_width())]
        value = (1 << 8 * bpp) - 1  # get_at_mapped may give the value as a signed int
        assert [surface.get_at_mapped(p) & value for p in at] == [
            int.from_bytes(bytes(read(*p)), sys.byteorder) for p in at
        ]
        if fmt != "L":
            assert [tuple(surface.get_at(p)) for p in at] == [colour(fmt, read(*p)) for p in at]
            if showable(fmt):
                # The view itself, and its name for the order, make a Surface showing the same pixels.
                again = Quorvel.frombuffer(view, format=fmt)
                assert [again.get_at(p) for p in at] == [surface.get_at(p) for p in at]
                del again
        if np is not None:
            assert [bytes(np.asarray(view)[y, x].reshape(-1)) for x, y in at] == [bytes(read(*p)) for p in at]
        del view
    assert not whole.get_locked()
