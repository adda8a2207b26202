"""pygame Surfaces that show an RImage record's own pixel memory.

Type hints for the Quorvelc extension. `SupportsThis` exists for type checkers
only: the module itself holds nothing but `RImage_asSDLSurface`, so import it
under `typing.TYPE_CHECKING`.
"""

from typing import Protocol

import pygame

class SupportsThis(Protocol):
    """An object that wraps an RImage: its `this` attribute holds the record's
    pointer text, e.g. "_c3b2a10000000000_p_RImage"."""

    @property
    def this(self) -> str: ...

def RImage_asSDLSurface(image: str | SupportsThis | None, /) -> pygame.Surface | None:
    """Return a new pygame Surface over the pixel memory of the RImage record
    that `image` names, or None.

    `image` is a pointer text tagged `_p_RImage`, an object whose `this`
    attribute holds one, None, or "NULL". No pixel is copied: drawing on the
    Surface writes the record's pixels, and writes to the record show in the
    Surface.

    Returns None for no record (None, "NULL", a text of address 0) and for a
    record whose pixel layout cannot be shown: a depth other than 8 bits, a
    channel count other than 1, 3 or 4, a width or height of 0 or less, or of
    2**30 - 1 or more, a row stride shorter than a row, a last row that ends
    more than INT_MAX bytes after the first pixel, null pixels, a 4-channel
    record whose pixel address or row stride is not a multiple of 4, or SDL
    refusing the surface.

    Raises TypeError("Type error. Expected _p_RImage") when `image` names no
    RImage (another type, another tag, no `this` attribute); TypeError for any
    number of arguments other than one, or for keyword arguments;
    RuntimeError when pygame's surface constructor or the SDL functions the
    module needs cannot be found. An error from pygame's Surface constructor
    is passed on.

    The Surface holds no reference to the record or to its owner: the caller
    keeps the record and its pixel memory alive for as long as the Surface is
    used. A Surface used after its record is freed reads and writes freed
    memory.
    """
