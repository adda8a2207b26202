"""Quorvel's private compiled helpers (src/speedups)."""

import weakref
from typing import Callable, TypeVar

import pygame

_Frombuffer = TypeVar("_Frombuffer", bound=Callable[..., pygame.Surface])

def surface_at(address: int, width: int, height: int, pitch: int, order: str, /) -> pygame.Surface | None: ...
def fast_frombuffer(
    python_frombuffer: _Frombuffer, kept: dict[weakref.ref[pygame.Surface], object], /
) -> _Frombuffer: ...
