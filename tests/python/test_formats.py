"""Which records give which Surface format, and which give None."""

import pygame
import pytest

import Quorvelc
from records import BLUE_FIRST_24, BLUE_FIRST_32, RED_FIRST_24, RED_FIRST_32, Record

convert = Quorvelc.RImage_asSDLSurface

GREY = (0, 0, 0, 0)  # SDL 2 and SDL 3 report no masks for an indexed surface


@pytest.mark.parametrize(
    "channels, order, bits, masks",
    [
        (3, b"RGB", 24, RED_FIRST_24),
        (3, b"BGR", 24, BLUE_FIRST_24),
        (3, b"rgb", 24, BLUE_FIRST_24),  # the order letter is case-sensitive
        (4, b"RGBA", 32, RED_FIRST_32),
        (4, b"BGRA", 32, BLUE_FIRST_32),
        (4, b"rgba", 32, BLUE_FIRST_32),
        (1, b"GRAY", 8, GREY),
        (1, b"RGB", 8, GREY),  # grey ignores the order text
    ],
)
def test_format_of_surface(channels, order, bits, masks):
    record = Record(5, 3, channels=channels, order=order)
    surface = convert(record.text)
    assert isinstance(surface, pygame.Surface)
    assert surface.get_size() == (5, 3)
    assert surface.get_bitsize() == bits
    assert surface.get_bytesize() == channels
    assert surface.get_masks() == masks
    assert surface.get_pitch() == record.row_stride
    assert surface._pixels_address == record.pixel_address


@pytest.mark.parametrize(
    "fields",
    [
        dict(depth=16),
        dict(depth=-8),
        dict(depth=7),
        dict(depth=16, channels=1),
        dict(depth=32, channels=4, order=b"RGBA"),
        dict(channels=0),
        dict(channels=2),
        dict(channels=-1),
        dict(channels=5, order=b"RGBA"),
        # No pixels behind a non-empty record.
        dict(channels=3, null_pixels=True),
        dict(channels=4, order=b"RGBA", null_pixels=True),
        dict(channels=1, null_pixels=True),
        # 32-bit rows must start on 4-byte boundaries.
        dict(channels=4, order=b"RGBA", pixel_offset=1),
        dict(channels=4, order=b"BGRA", pixel_offset=2),
        dict(channels=4, order=b"RGBA", pixel_offset=3),
        dict(channels=4, order=b"RGBA", row_stride=4 * 4 + 2),
        dict(channels=4, order=b"BGRA", row_stride=4 * 4 + 1),
    ],
)
def test_record_that_cannot_be_shown_gives_none(fields):
    record = Record(4, 3, **fields)
    assert convert(record.text) is None


@pytest.mark.parametrize(
    "channels, pixel_offset, row_stride",
    [
        (3, 1, 3 * 3),  # odd address and a stride that is no multiple of 4
        (3, 3, 3 * 3 + 2),
        (1, 1, 3),
        (4, 4, 3 * 4 + 4),  # padded 32-bit rows that stay aligned
    ],
)
def test_unaligned_layouts_that_are_shown(channels, pixel_offset, row_stride):
    record = Record(3, 2, channels=channels, order=b"RGBA", pixel_offset=pixel_offset, row_stride=row_stride)
    surface = convert(record.text)
    assert surface.get_size() == (3, 2)
    assert surface.get_pitch() == row_stride
    assert surface._pixels_address == record.pixel_address


@pytest.fixture
def display():
    """pygame 2.1.2 sets a palette only while its display is initialised."""
    pygame.display.init()
    yield
    pygame.display.quit()


def test_grey_surfaces_have_their_own_grey_ramp(display):
    first, second = Record(4, 2, channels=1), Record(4, 2, channels=1)
    one, other = convert(first.text), convert(second.text)
    assert [tuple(c)[:3] for c in one.get_palette()] == [(i, i, i) for i in range(256)]
    one.set_palette_at(7, (200, 10, 20))
    assert tuple(one.get_palette_at(7))[:3] == (200, 10, 20)
    assert tuple(other.get_palette_at(7))[:3] == (7, 7, 7)
    # The same record converted again starts from the ramp too.
    assert tuple(convert(first.text).get_palette_at(7))[:3] == (7, 7, 7)
    # A palette change is no pixel write.
    assert bytes(first.memory) == bytes([0xAB]) * first.size
