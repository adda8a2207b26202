"""Quorvel: Surfaces over any writable buffer, what it refuses, and Surfaces
that keep their pixels alive."""

import array
import ctypes
import gc
import mmap
import sys
import weakref

import pygame
import pytest

import Quorvel
from records import (
    BLUE_FIRST_24,
    BLUE_FIRST_32,
    CANARY,
    POINTER_SIZE,
    RED_FIRST_24,
    RED_FIRST_32,
    Record,
    byte_masks,
    pointer_text,
)

W, H = 5, 4  # odd width: 3-channel rows are not 4-byte multiples
FORMATS = {
    "L": (1, (0, 0, 0, 0)),
    "RGB": (3, RED_FIRST_24),
    "BGR": (3, BLUE_FIRST_24),
    "RGBA": (4, RED_FIRST_32),
    "BGRA": (4, BLUE_FIRST_32),
    "RGBX": (4, byte_masks(4, 0, 1, 2) + (0,)),
    "BGRX": (4, byte_masks(4, 2, 1, 0) + (0,)),
}
LITTLE = sys.byteorder == "little"


def numpy():
    return pytest.importorskip("numpy")


def needs_speedups(fmt):
    """Skips where `fmt` needs the compiled module and this install has none."""
    if fmt.strip("LRGBA") and Quorvel._speedups is None:
        pytest.skip(f"{fmt} needs Quorvel._speedups")


def flat(storage, bpp, memory=None, pitch=None):
    """A flat buffer's case: the buffer, frombuffer's arguments, its memory
    (sliced and assigned as bytes), where the pixels start in it, the pitch."""
    arguments = {"size": (W, H)} if pitch is None else {"size": (W, H), "pitch": pitch}
    return storage, arguments, storage if memory is None else memory, 0, pitch or W * bpp


def array_flat(storage, bpp):
    return flat(storage, bpp, memoryview(storage))


def canary_bytes(n):
    return bytearray([CANARY]) * n


def canary_ctypes(n, item=ctypes.c_ubyte):
    storage = (item * n)()
    ctypes.memset(storage, CANARY, n)
    return storage


def canary_mmap(n):
    storage = mmap.mmap(-1, n)
    storage[:] = bytes([CANARY]) * n
    return storage


def array_case(shape, region, bpp):
    """An array case: `region` (row and column slices) of a canary array of `shape`."""
    base = numpy().full(shape, CANARY, "uint8")
    rows, columns = region
    pitch = shape[1] * bpp
    start = rows.start * pitch + columns.start * bpp
    return base[rows, columns], {}, memoryview(base).cast("B"), start, pitch


def padded_case(bpp):
    """Rows of W pixels, 4 bytes of padding after each: a (H, W, bpp) view of a wider array."""
    pitch = W * bpp + 4
    base = numpy().full((H, pitch), CANARY, "uint8")
    view = base[:, : W * bpp].reshape(H, W, bpp)
    assert numpy().shares_memory(view, base)
    return view, {}, memoryview(base).cast("B"), 0, pitch


# kind: makes a case for a bytes-per-pixel count; the formats it takes
KINDS = {
    "array": (lambda bpp: array_case((H, W, bpp), (slice(0, H), slice(0, W)), bpp), FORMATS),
    "region": (lambda bpp: array_case((H + 3, W + 2, bpp), (slice(2, H + 2), slice(1, W + 1)), bpp), FORMATS),
    "padded": (padded_case, FORMATS),
    "grey 2-D": (lambda bpp: array_case((H, W), (slice(0, H), slice(0, W)), bpp), ["L"]),
    "bytearray": (lambda bpp: flat(canary_bytes(W * H * bpp + 3), bpp), FORMATS),
    "memoryview": (lambda bpp: flat(memoryview(canary_bytes((W * bpp + 4) * H)), bpp, pitch=W * bpp + 4), FORMATS),
    "array.array": (lambda bpp: array_flat(array.array("B", canary_bytes(W * H * bpp)), bpp), FORMATS),
    "mmap": (lambda bpp: flat(canary_mmap(W * H * bpp + 5), bpp), FORMATS),
    "ctypes": (lambda bpp: flat(canary_ctypes(W * H * bpp), bpp), FORMATS),
    "ctypes chars": (lambda bpp: flat(canary_ctypes(W * H * bpp, ctypes.c_char), bpp), ["BGR"]),
}


def colour(x, y, fmt):
    """A colour of its own for each pixel; grey for "L", where set_at picks the palette entry."""
    if fmt == "L":
        return (16 * y + x,) * 3 + (255,)
    return (40 * x + y, 50 * y + 7, 200 - 10 * x - y, 255 - x - 3 * y if len(fmt) == 4 else 255)


def stored(rgba, fmt, unused=0):
    """The bytes of a pixel of this colour in memory, `unused` in an X byte."""
    r, g, b, a = rgba
    return [{"L": g, "P": g, "R": r, "G": g, "B": b, "A": a, "X": unused}[letter] for letter in fmt]


@pytest.mark.parametrize(
    "kind, fmt", [(k, f) for k, (_, formats) in KINDS.items() for f in formats], ids=lambda v: str(v)
)
def test_surface_over_the_buffer_both_ways(kind, fmt):
    needs_speedups(fmt)
    bpp, masks = FORMATS[fmt]
    buffer, arguments, memory, start, pitch = KINDS[kind][0](bpp)
    surface = Quorvel.frombuffer(buffer, format=fmt, **arguments)
    assert isinstance(surface, pygame.Surface)
    assert (surface.get_size(), surface.get_pitch(), surface.get_bytesize(), surface.get_masks()) == (
        (W, H),
        pitch,
        bpp,
        masks,
    )
    assert bool(surface.get_flags() & pygame.SRCALPHA) == ("A" in fmt)
    assert Quorvel.pixels(surface).format == fmt.replace("L", "P")  # the name that gives these masks
    # record_for builds the same record, over the same first pixel.
    record = Quorvel.record_for(buffer, format=fmt, **arguments)
    assert (record.width, record.height, record.row_stride, record.channels, record.depth) == (W, H, pitch, bpp, 8)
    assert record.pixels == surface._pixels_address

    # Through the Surface into the memory: each pixel where it belongs, nothing else touched.
    for y in range(H):
        for x in range(W):
            surface.set_at((x, y), colour(x, y, fmt))
    expected = [CANARY] * len(memory)
    for y in range(H):
        for x in range(W):
            at = start + y * pitch + x * bpp
            expected[at : at + bpp] = stored(colour(x, y, fmt), fmt)
    assert list(bytes(memory[: len(memory)])) == expected

    # From the memory into the Surface.
    at = start + (H - 1) * pitch + (W - 1) * bpp
    rgba = colour(1, 2, fmt) if fmt == "L" else (9, 99, 199, 77 if "A" in fmt else 255)
    memory[at : at + bpp] = bytes(stored(rgba, fmt, unused=77))
    assert surface.get_at((W - 1, H - 1)) == rgba
    # Blitted opaquely, whatever an X byte holds.
    target = pygame.Surface((W, H), 0, 32)
    target.blit(surface, (0, 0))
    assert target.get_at((W - 1, H - 1)) == rgba[:3] + (255,) or "A" in fmt


def canaries(shape, dtype="uint8"):
    """A numpy array whose every byte is CANARY."""
    np = numpy()
    return np.full(shape, int.from_bytes(bytes([CANARY]) * np.dtype(dtype).itemsize, "little"), dtype)


def read_only(array):
    array.setflags(write=False)
    return array


class Shaped(bytearray):
    """n canary bytes that describe themselves (or `data`) through an __array_interface__."""

    def __init__(self, n, shape, typestr="|u1", **interface):
        super().__init__([CANARY] * n)
        self.__array_interface__ = dict(version=3, shape=shape, typestr=typestr, **interface)


class UMat:
    """No buffer, but a get() that gives an array, as cv2's UMat has."""

    def get(self):
        return canaries((2, 2, 3))


fb, cb, ca = Quorvel.frombuffer, canary_bytes, canaries
# name: function, makes its arguments (numpy rows skip without numpy), keywords, error, message
REFUSALS = {
    "format not a str": (fb, lambda: (cb(3), (1, 1), b"RGB"), {}, TypeError, "format must be a str"),
    "unknown format": (fb, lambda: (cb(4), (1, 1), "RGBY"), {}, ValueError, "one of L, RGB, BGR, RGBA"),
    "bytes": (fb, lambda: (bytes(3), (1, 1)), {}, TypeError, "read-only"),
    "read-only view": (fb, lambda: (memoryview(cb(3)).toreadonly(), (1, 1)), {}, TypeError, "read-only"),
    "read-only array": (fb, lambda: (read_only(ca((2, 2, 3))),), {}, TypeError, "read-only"),
    "no buffer": (fb, lambda: (42, (1, 1)), {}, TypeError, "int has no buffer"),
    "no buffer, get()": (fb, lambda: (UMat(),), {}, TypeError, r"UMat has no buffer to show; its .get\(\) gives"),
    "flat, no size": (fb, lambda: (cb(12),), {}, ValueError, "size .* is required"),
    "not C-contiguous": (fb, lambda: (memoryview(cb(24))[::2], (2, 2)), {}, ValueError, "C-contig"),
    "0-D array": (fb, lambda: (ca(()),), {}, ValueError, "0 dimensions"),
    "4-D array": (fb, lambda: (ca((2, 2, 3, 1)),), {}, ValueError, "4 dimensions"),
    "2-D array as RGB": (fb, lambda: (ca((2, 2)),), {}, ValueError, "one channel"),
    "channels": (fb, lambda: (ca((2, 2, 3)), None, "RGBA"), {}, ValueError, "3 channels; .* has 4"),
    "2-byte items": (fb, lambda: (ca((2, 2, 3), "uint16"),), {}, ValueError, "single bytes .*uint16"),
    "bool items": (fb, lambda: (ca((2, 2)).view(bool), None, "L"), {}, ValueError, "single bytes .*bool"),
    "int8 items": (fb, lambda: (ca((2, 2)).view("int8"), None, "L"), {}, ValueError, "single bytes .*int8"),
    "float32 items": (fb, lambda: (ca((2, 2, 12)).view("float32"),), {}, ValueError, "single bytes .*float32"),
    "signed buffer": (fb, lambda: (array.array("b", cb(4)), (2, 2), "L"), {}, ValueError, "single bytes .*int8"),
    "bool typestr": (fb, lambda: (Shaped(4, (2, 2), "|b1"), None, "L"), {}, ValueError, "single bytes .*bool"),
    "shape past the buffer": (fb, lambda: (Shaped(10, (1000, 1000, 3)),), {}, ValueError, "10 bytes is too small"),
    "offset past the buffer": (fb, lambda: (Shaped(12, (2, 2, 3), offset=10**6),), {}, ValueError, "too small"),
    "24-bit GBR": (fb, lambda: (cb(12), (2, 2), "GBR"), {}, ValueError, "SDL made no 2x2 GBR|compiled module"),
    "4-channel offset": (fb, lambda: (Shaped(9, (1, 1, 4), offset=1), None, "RGBA"), {}, ValueError, "multiple of 4"),
    "negative offset": (fb, lambda: (Shaped(12, (2, 2, 3), offset=-1),), {}, ValueError, "not be negative"),
    "shape past the data": (fb, lambda: (Shaped(0, (9, 9, 3), data=cb(10)),), {}, ValueError, "10 bytes is too small"),
    "every other pixel": (fb, lambda: (ca((2, 4, 3))[:, ::2],), {}, ValueError, "stride 6, not 3; .*ascontiguousarray"),
    "channels reversed": (fb, lambda: (ca((2, 2, 3))[:, :, ::-1],), {}, ValueError, "stride -1.*ascontiguousarray"),
    "rows upside down": (
        fb,
        lambda: (ca((2, 2, 3))[::-1],),
        {},
        ValueError,
        "positive row stride.*top-down.*ascontiguousarray.*transform.flip",
    ),
    "size unlike shape": (fb, lambda: (ca((2, 3, 3)), (2, 3)), {}, ValueError, "array's 3x2"),
    "pitch unlike rows": (fb, lambda: (ca((2, 3, 3)),), {"pitch": 12}, ValueError, "row stride 9"),
    "size not a pair": (fb, lambda: (cb(12), (4,)), {}, ValueError, "size must be"),
    "too small": (fb, lambda: (cb(17), (3, 2)), {"pitch": 9}, ValueError, "17 bytes is too small"),
    "zero width": (fb, lambda: (cb(12), (0, 4)), {}, ValueError, "empty"),
    "empty array": (fb, lambda: (ca((0, 4, 3)),), {}, ValueError, "empty"),
    "side of 2**30-1": (fb, lambda: (cb(12), ((1 << 30) - 1, 1), "L"), {}, ValueError, "too large"),
    "short pitch": (fb, lambda: (cb(12), (2, 2)), {"pitch": 5}, ValueError, "shorter than a row"),
    "pitch over INT_MAX": (fb, lambda: (cb(9), (1, 1), "L"), {"pitch": 1 << 31}, ValueError, "C int"),
    "rows past INT_MAX": (fb, lambda: (cb(12), (1, 3), "L"), {"pitch": 1 << 30}, ValueError, "INT_MAX"),
    "4-channel pitch": (fb, lambda: (cb(16), (1, 2), "RGBA"), {"pitch": 6}, ValueError, "multiple of 4"),
    "4-channel address": (fb, lambda: (memoryview(cb(20))[1:], (2, 2), "BGRA"), {}, ValueError, "multiple of 4"),
    "4-channel region": (
        fb,
        lambda: (ca((41,))[1:].reshape(2, 5, 4)[:, 1:], None, "BGRA"),
        {},
        ValueError,
        "multiple of 4",
    ),
    "record_for": (Quorvel.record_for, lambda: (bytes(3), (1, 1)), {}, TypeError, "read-only"),
    "negative address": (Quorvel.pointer_text, lambda: (-1,), {}, ValueError, "does not fit"),
    "address too large": (Quorvel.pointer_text, lambda: (1 << 8 * POINTER_SIZE,), {}, ValueError, "does not fit"),
    "fromrecord": (Quorvel.fromrecord, lambda: (7,), {}, TypeError, "Type error. Expected _p_RImage"),
    "pixels of a buffer": (Quorvel.pixels, lambda: (cb(4),), {}, TypeError, "pygame.Surface, not bytearray"),
    "pixels of 16 bits": (Quorvel.pixels, lambda: (pygame.Surface((2, 2), 0, 16),), {}, ValueError, "16-bit"),
    "pixels of RGB332": (
        Quorvel.pixels,
        lambda: (pygame.Surface((2, 2), 0, 8, (0xE0, 0x1C, 0x03, 0)),),
        {},
        ValueError,
        "8-bit Surface with masks",
    ),
}


@pytest.mark.parametrize("name", REFUSALS)
def test_refusals_raise_and_write_nothing(name):
    function, make, kwargs, error, message = REFUSALS[name]
    args = make()
    with pytest.raises(error, match=message) as refused:  # held: its traceback keeps the frames
        function(*args, **kwargs)
    for argument in args:
        assert not isinstance(argument, pygame.Surface) or not argument.get_locked(), refused
        if isinstance(argument, bytearray):
            argument.append(CANARY)  # BufferError if an export was left
        try:
            view = memoryview(argument)
        except TypeError:
            continue
        assert view.readonly or set(view.tobytes()) <= {CANARY}, "a refusal wrote into the buffer"


def test_surface_keeps_its_pixels_alive_and_in_place_then_lets_go():
    kept = len(Quorvel._kept)

    def temporary_surface():
        pixels = array.array("B", bytes(4 * 3 * 4))
        return Quorvel.frombuffer(pixels, (4, 3), "BGRA"), weakref.ref(pixels)

    surface, source = temporary_surface()
    gc.collect()
    assert source() is not None
    pygame.draw.rect(surface, (10, 20, 30, 40), pygame.Rect(1, 1, 2, 1))
    assert surface.get_at((2, 1)) == (10, 20, 30, 40)
    assert source()[(4 + 2) * 4 : (4 + 3) * 4].tobytes() == bytes([30, 20, 10, 40])

    # What keeps the Surface alive keeps its pixels alive.
    keepers = [surface.subsurface(pygame.Rect(1, 1, 2, 2))]
    try:
        import numpy  # noqa: F401  (surfarray needs it)
    except ImportError:
        pass
    else:
        keepers.append(pygame.surfarray.pixels3d(surface))
    del surface
    while keepers:
        gc.collect()
        assert source() is not None
        keepers.pop()
    gc.collect()
    assert source() is None

    # In place: no resize, no close while a Surface (or a record_for record)
    # shows the memory.
    pixels, mapped, handed = bytearray(48), mmap.mmap(-1, 48), bytearray(12)
    holders = [
        Quorvel.frombuffer(pixels, (4, 4), "RGB"),
        Quorvel.frombuffer(mapped, (4, 4), "RGB"),
        Quorvel.record_for(handed, (2, 2)),
    ]
    for refused in (lambda: pixels.extend(b"more"), mapped.close, lambda: handed.extend(b"more")):
        with pytest.raises(BufferError):
            refused()
    del holders
    gc.collect()
    pixels.extend(b"more")
    handed.extend(b"more")
    mapped.close()
    assert len(Quorvel._kept) == kept


def test_fromrecord_keeps_the_wrapping_object_alive():
    class Owner:
        """Owns its record; what a C library's wrapping object is."""

        def __init__(self):
            self.record = Record(3, 2, channels=3, order=b"RGB")
            self.this = Quorvel.pointer_text(self.record.image)

    owner = Owner()
    assert owner.this == pointer_text(owner.record.address) == Quorvel.pointer_text(owner.record.address)
    gone = weakref.ref(owner)
    surface = Quorvel.fromrecord(owner)
    del owner
    gc.collect()
    assert gone() is not None
    surface.fill((1, 2, 3))
    assert gone().record.read(2, 1) == b"\x01\x02\x03"
    del surface
    gc.collect()
    assert gone() is None
    assert Quorvel.pointer_text(0) == "NULL"
    assert Quorvel.fromrecord(None) is None and Quorvel.fromrecord("NULL") is None
    assert Quorvel.fromrecord(Record(2, 2, depth=16).text) is None


def pixels_frombuffer(fmt):
    """A Surface from Quorvel.frombuffer, rows padded by 4 bytes."""
    needs_speedups(fmt)
    return Quorvel.frombuffer(bytearray((len(fmt) * W + 4) * H), (W, H), fmt, pitch=len(fmt) * W + 4)


# kind: makes the Surface; its format on this byte order
PIXEL_KINDS = {
    "display": (lambda: pygame.display.set_mode((W, H)), "BGRX" if LITTLE else "XRGB"),
    "RGB frombuffer": (lambda: pixels_frombuffer("RGB"), "RGB"),
    "BGR frombuffer": (lambda: pixels_frombuffer("BGR"), "BGR"),
    "RGBX frombuffer": (lambda: pixels_frombuffer("RGBX"), "RGBX"),
    "32-bit alpha": (lambda: pygame.Surface((W, H), pygame.SRCALPHA, 32), "BGRA" if LITTLE else "ARGB"),
    "32-bit": (lambda: pygame.Surface((W, H), 0, 32), "BGRX" if LITTLE else "XRGB"),
    "8-bit palette": (lambda: pygame.Surface((W, H), 0, 8), "P"),
    "subsurface": (lambda: pygame.Surface((W + 3, H + 2), 0, 24).subsurface((2, 1, W, H)), "BGR" if LITTLE else "RGB"),
}


@pytest.mark.parametrize("kind", PIXEL_KINDS)
def test_pixels_shows_any_surface_in_memory_order_both_ways(kind):
    np = numpy()
    make, fmt = PIXEL_KINDS[kind]
    surface = make()
    bpp, pitch = surface.get_bytesize(), surface.get_pitch()
    with Quorvel.pixels(surface) as view:
        assert (view.surface, view.format, view.address) == (surface, fmt, surface._pixels_address)
        assert (view.shape, view.strides) == (((H, W), (pitch, 1)) if bpp == 1 else ((H, W, bpp), (pitch, bpp, 1)))
        array = np.asarray(view)
        assert (array.ctypes.data, array.strides, array.dtype) == (view.address, view.strides, np.uint8)
        # From the Surface into the array, and the reverse.
        rgba = (10, 120, 230, 255)
        surface.fill(rgba)
        expected = [surface.map_rgb(rgba)] if fmt == "P" else stored(rgba, fmt)
        assert array.reshape(H, W, -1).tolist() == [[expected] * W] * H
        array[H - 1, W - 2] = 7 if fmt == "P" else stored((1, 2, 3, 4), fmt, unused=99)
        assert surface.get_at((W - 2, H - 1)) == (
            surface.get_palette_at(7) if fmt == "P" else (1, 2, 3, 4 if "A" in fmt else 255)
        )
        if bpp > 1 and not (fmt.strip("RGBA") and Quorvel._speedups is None):
            # frombuffer shows the view as it lies, by its format.
            shown = Quorvel.frombuffer(view, format=fmt)
            assert [shown.get_at((x, H - 1)) for x in range(W)] == [surface.get_at((x, H - 1)) for x in range(W)]
    assert not surface.get_locked()


def test_pixels_lock_while_live_and_never_outlive_the_memory():
    np = numpy()
    screen = pygame.display.set_mode((W, H))
    with Quorvel.pixels(screen) as view:
        assert screen.get_locked()
        with pytest.raises(pygame.error, match="locked"):
            screen.blit(pygame.Surface((1, 1)), (0, 0))
        array = np.asarray(view)
    screen.blit(pygame.Surface((1, 1)), (0, 0))  # unlocked at the end of the block
    with pytest.raises(ValueError, match="released"):
        np.asarray(view)
    del array, view
    # A collected view lets go of the lock; a live one keeps its Surface.
    surface = pygame.Surface((W, H), 0, 24)
    gone = weakref.ref(surface)
    view = Quorvel.pixels(surface)
    del surface
    gc.collect()
    assert gone() is not None and gone().get_locked()
    del view
    gc.collect()
    assert gone() is None
    Quorvel.pixels(screen)
    assert not screen.get_locked()

    # New pixels for the display, same object: old views refuse, fresh ones work.
    old = Quorvel.pixels(screen)
    corner = screen.subsurface((2, 2, W - 2, H - 2))
    assert pygame.display.set_mode((W - 1, H - 1)) is screen
    for use in (lambda: old.shape, lambda: old.address, lambda: np.asarray(old), lambda: Quorvel.frombuffer(old)):
        with pytest.raises(ValueError, match="moved"):
            use()
    with pytest.raises(ValueError, match="no longer lies within its parent") as refused:
        Quorvel.pixels(corner)
    assert not corner.get_locks(), refused  # though its traceback lives
    fresh = Quorvel.pixels(screen)
    assert fresh.shape == (H - 1, W - 1, 4) and fresh.address == screen._pixels_address
    old.release()  # its own lock alone, if set_mode kept it
    assert screen.get_locked()
    fresh.release()
    fresh.release()
    assert not screen.get_locked()
    pygame.display.quit()
    old.release()
