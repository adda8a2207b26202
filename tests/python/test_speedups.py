"""Quorvel._speedups: the compiled frombuffer gives the Python path's Surface
or error for every input and makes the common ones itself; surface_at's
masks select the bytes its order names."""

import ctypes
import gc

import pygame
import pytest

import Quorvel

speedups = pytest.importorskip("Quorvel._speedups")
try:
    import numpy as np
except ImportError:  # the table of arrays needs numpy; surface_at does not
    np = None

# The Python function: the hook wraps it, and the wrapper keeps it first in its state.
PYTHON_FROMBUFFER = getattr(Quorvel.frombuffer, "__self__", (Quorvel.frombuffer,))[0]


def frame(shape, offset=0):
    """A writable uint8 array of `shape` whose data starts `offset` bytes into a 16-aligned block."""
    block = np.zeros(int(np.prod(shape)) + 16 + offset, np.uint8)
    start = -block.ctypes.data % 16 + offset
    array = block[start : start + int(np.prod(shape))].reshape(shape)
    array[...] = np.arange(array.size, dtype=np.uint32).reshape(shape) % 251
    return array


def read_only(array):
    array.setflags(write=False)
    return array


H, W = 6, 8
# name: (array, arguments after it, keywords, whether the compiled path makes it)
CASES = np and {
    "BGR by keyword": (frame((H, W, 3)), (), dict(format="BGR"), True),
    "RGB by default, size and pitch given": (frame((H, W, 3)), ((W, H),), dict(pitch=3 * W), True),
    "all positional": (frame((H, W, 4)), ((W, H), "BGRA", 4 * W), {}, True),
    "region": (frame((H, W, 3))[1:5, 2:7], (), dict(format="RGB"), True),
    "grey 2-D": (frame((H, W)), (), dict(format="L"), True),
    "grey (h, w, 1)": (frame((H, W, 1)), (), dict(format="L"), True),
    "one row of a strided array": (frame((H, W, 3))[::2][:1], (), dict(format="RGB"), True),
    "one column": (frame((H, W, 3))[:, :1], (), dict(format="RGB"), True),
    "rows bottom-up": (frame((H, W, 3))[::-1], (), dict(format="BGR"), False),
    "pixels apart": (frame((H, W, 3))[:, ::2], (), dict(format="BGR"), False),
    "channels apart": (frame((H, W, 6))[:, :, ::2], (), dict(format="BGR"), False),
    "channels not the format's": (frame((H, W, 4)), (), dict(format="BGR"), False),
    "2-D not grey": (frame((H, W)), (), dict(format="RGB"), False),
    "size disagrees": (frame((H, W, 3)), ((H, W),), {}, False),
    "pitch disagrees": (frame((H, W, 3)), (), dict(pitch=3 * W + 1), False),
    "size a list": (frame((H, W, 3)), ([W, H],), {}, False),
    "4 bytes at an odd address": (frame((H, W, 4), offset=1), (), dict(format="RGBA"), False),
    "4-byte rows 4 * W + 2 apart": (frame((H, 4 * W + 2))[:, : 4 * W].reshape(H, W, 4), (), dict(format="RGBA"), False),
    "empty": (frame((0, W, 3)), (), {}, False),
    "read-only": (read_only(frame((H, W, 3))), (), {}, False),
    "bool": (frame((H, W)).astype(bool), (), dict(format="L"), False),
    "int8": (frame((H, W)).astype(np.int8), (), dict(format="L"), False),
    "subclass": (frame((H, W, 3)).view(type("Subclass", (np.ndarray,), {})), (), {}, False),
    "1-D": (frame((H * W * 3,)), ((W, H),), {}, False),
    "format bytes": (frame((H, W, 3)), (), dict(format=b"RGB"), False),
    "format unknown": (frame((H, W, 3)), (), dict(format="RGBZ"), False),
    "unknown keyword": (frame((H, W, 3)), (), dict(fmt="RGB"), False),
    "format twice": (frame((H, W, 3)), (None, "RGB"), dict(format="RGB"), False),
}


def outcome(call, *args, **kwargs):
    try:
        surface = call(*args, **kwargs)
    except (TypeError, ValueError) as error:
        return type(error), str(error)
    palette = surface.get_palette() if surface.get_bitsize() == 8 else None
    return (
        surface.get_size(),
        surface.get_pitch(),
        surface.get_masks(),
        surface.get_flags(),
        surface._pixels_address,
        palette,
    )


@pytest.mark.parametrize("name", CASES or [pytest.param(None, marks=pytest.mark.skip("needs numpy"))])
def test_compiled_frombuffer_is_the_python_path(name):
    array, args, kwargs, compiled = CASES[name]
    calls = []

    def python_path(*a, **k):
        calls.append(a)
        return PYTHON_FROMBUFFER(*a, **k)

    kept = {}
    fast = speedups.fast_frombuffer(python_path, kept)
    assert outcome(fast, array, *args, **kwargs) == outcome(PYTHON_FROMBUFFER, array, *args, **kwargs)
    assert (not calls) == compiled
    if compiled:  # the keeper: the array and its export, until the Surface goes
        surface = fast(array, *args, **kwargs)
        ((array_kept, export),) = kept.values()
        assert array_kept is array and isinstance(export, memoryview)
        del surface
        gc.collect()
        assert not kept


ORDERS = ["RGB", "BGR", "RGBA", "BGRA", "ARGB", "ABGR", "RGBX", "BGRX", "XRGB", "XBGR"]


@pytest.mark.parametrize("order", ORDERS)
def test_surface_at_masks_the_named_bytes(order):
    pitch = 4 * len(order)
    pixels = (ctypes.c_uint32 * (2 * pitch // 4))()  # 4-byte aligned
    ctypes.memmove(pixels, bytes([10, 20, 30, 40][: len(order)]), len(order))
    surface = speedups.surface_at(ctypes.addressof(pixels), 3, 2, pitch, order)
    byte = {letter: 10 * (i + 1) for i, letter in enumerate(order)}
    assert surface.get_at((0, 0)) == (byte["R"], byte["G"], byte["B"], byte.get("A", 255))
    assert bool(surface.get_flags() & pygame.SRCALPHA) == ("A" in order)
    assert (surface.get_masks()[3] != 0) == ("A" in order)


@pytest.mark.parametrize(
    "args, result",
    [
        ((1, 4, 4, 16, "RRGB"), ValueError),  # a colour twice
        ((1, 4, 4, 16, "RGBAX"), ValueError),
        ((1, 4, 4, 12, "L"), ValueError),  # surface_at is for 3 and 4 bytes
        ((0, 4, 4, 12, "RGB"), None),  # a null address
        ((4, 4, 4, 11, "RGB"), None),  # rows overlap
        ((4, 4, 4, 18, "RGBX"), None),  # 4-byte rows at an unaligned pitch
        ((4, 4, 4, 12, "RBG"), None),  # SDL 2 has no such 24-bit format, though its lookup matches red
    ],
)
def test_surface_at_refuses(args, result):
    if result is None:
        assert speedups.surface_at(*args) is None
    else:
        with pytest.raises(result, match="order"):
            speedups.surface_at(*args)
