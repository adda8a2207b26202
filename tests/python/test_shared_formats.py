"""Colour Surfaces of one format share one SDL pixel format, with each other
and with pygame's own Surfaces of that format. Made and freed in any order,
every live Surface keeps that format and shows its own record's pixels."""

import pygame
import pytest

import Quorvelc
from records import BLUE_FIRST_24, BLUE_FIRST_32, RED_FIRST_24, RED_FIRST_32, Record

convert = Quorvelc.RImage_asSDLSurface


@pytest.mark.parametrize(
    "channels, order, masks",
    [
        (3, b"RGB", RED_FIRST_24),
        (3, b"BGR", BLUE_FIRST_24),
        (4, b"RGBA", RED_FIRST_32),
        (4, b"BGRA", BLUE_FIRST_32),
    ],
)
def test_format_outlives_surfaces_freed_in_any_order(channels, order, masks):
    records = [Record(4, 2, channels=channels, order=order) for _ in range(5)]
    for level, record in enumerate(records, start=1):
        record.write(0, 0, bytes([level] * channels))
    live = {}
    for step in range(40):
        index = step * 3 % len(records)
        live[index] = convert(records[index].text)
        # pygame's own Surface of the same format, made and freed in between
        # (from masks: pygame 2.1.2's frombuffer knows no "BGRA")
        theirs = pygame.Surface((4, 2), 0, 8 * channels, masks)
        assert theirs.get_masks() == masks
        del theirs
        if step % 4 == 3:
            live.pop((index + 2) % len(records), None)
    assert live
    for index, surface in live.items():
        level = index + 1
        assert surface.get_masks() == masks
        assert tuple(surface.get_at((0, 0)))[:3] == (level, level, level)
        surface.fill((9, 8, 7), pygame.Rect(1, 1, 1, 1))
        red, green, blue = (9, 8, 7)
        expected = bytes([red, green, blue] if order.startswith(b"R") else [blue, green, red])
        assert records[index].read(1, 1)[:3] == expected
