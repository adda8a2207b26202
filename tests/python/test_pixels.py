"""The Surface views the record's own pixels: writes go both ways, rows step
by row_stride, and the padding between rows is never shown nor written."""

import pygame
import pytest

import Quorvelc
from records import CANARY, Record

convert = Quorvelc.RImage_asSDLSurface

# channels, order, a colour, the bytes that colour is stored as.
LAYOUTS = [
    (3, b"RGB", (10, 20, 30), b"\x0a\x14\x1e"),
    (3, b"BGR", (10, 20, 30), b"\x1e\x14\x0a"),
    (4, b"RGBA", (10, 20, 30, 40), b"\x0a\x14\x1e\x28"),
    (4, b"BGRA", (10, 20, 30, 40), b"\x1e\x14\x0a\x28"),
    (1, b"G", (77, 77, 77), b"\x4d"),
]
# A padded stride (a multiple of 4, so that 32-bit rows stay aligned) and an
# odd height and width, so that swapped sizes or a stride taken as
# width x channels shows up.
WIDTH, HEIGHT, PADDING = 5, 3, 8


def padded_record(channels, order):
    return Record(WIDTH, HEIGHT, channels=channels, order=order, row_stride=WIDTH * channels + PADDING)


def full_colour(colour):
    return tuple(colour) + (255,) * (4 - len(colour))


def padding_bytes(record):
    row = WIDTH * record.bytes_per_pixel
    return b"".join(
        bytes(record.memory[y * record.row_stride + row : (y + 1) * record.row_stride]) for y in range(HEIGHT)
    )


@pytest.mark.parametrize("channels, order, colour, stored", LAYOUTS)
def test_fill_writes_every_pixel_and_no_padding(channels, order, colour, stored):
    record = padded_record(channels, order)
    surface = convert(record.text)
    surface.fill(colour)
    for y in range(HEIGHT):
        assert record.read(0, y, WIDTH * channels) == stored * WIDTH
    assert padding_bytes(record) == bytes([CANARY]) * (PADDING * HEIGHT)


@pytest.mark.parametrize("channels, order, colour, stored", LAYOUTS)
def test_set_at_writes_that_pixel_only(channels, order, colour, stored):
    record = padded_record(channels, order)
    surface = convert(record.text)
    before = bytes(record.memory)
    surface.set_at((3, 2), colour)
    assert record.read(3, 2) == stored
    start = record.offset(3, 2)
    after = bytes(record.memory)
    assert after[:start] == before[:start]
    assert after[start + channels :] == before[start + channels :]


@pytest.mark.parametrize("channels, order, colour, stored", LAYOUTS)
def test_bytes_written_to_the_record_show_in_the_surface(channels, order, colour, stored):
    record = padded_record(channels, order)
    surface = convert(record.text)
    record.write(4, 1, stored)
    assert tuple(surface.get_at((4, 1))) == full_colour(colour)
    # A blit carries them out: BLEND_RGBA_MAX onto zeros copies every channel, alpha too.
    shown = pygame.Surface((WIDTH, HEIGHT), pygame.SRCALPHA, 32)
    shown.blit(surface, (0, 0), special_flags=pygame.BLEND_RGBA_MAX)
    assert tuple(shown.get_at((4, 1))) == full_colour(colour)
    # Its neighbours still show the canary, and row 2 starts after the padding.
    record.write(0, 2, stored)
    assert tuple(surface.get_at((0, 2))) == full_colour(colour)
    assert tuple(surface.get_at((3, 1))) != full_colour(colour)
    assert tuple(surface.get_at((4, 0))) != full_colour(colour)


@pytest.mark.parametrize("channels, order, colour, stored", LAYOUTS)
def test_drawing_lands_in_the_record(channels, order, colour, stored):
    record = padded_record(channels, order)
    surface = convert(record.text)
    surface.fill((0, 0, 0, 0))
    pygame.draw.rect(surface, colour, pygame.Rect(1, 1, 3, 2))
    inside = {(x, y) for x in range(1, 4) for y in range(1, 3)}
    for y in range(HEIGHT):
        for x in range(WIDTH):
            expected = stored if (x, y) in inside else bytes(channels)
            assert record.read(x, y) == expected, (x, y)
    assert padding_bytes(record) == bytes([CANARY]) * (PADDING * HEIGHT)


def test_no_write_through_a_record_without_rows():
    # 5x0: a Surface over the record's address would let a PixelArray write a row there.
    record = Record(5, 1, channels=3)
    record.image.height = 0
    surface = convert(record.text)
    if surface is not None:
        pygame.PixelArray(surface)[0] = (1, 2, 3)
    assert bytes(record.memory) == bytes([CANARY]) * 15


def test_no_write_before_a_record_whose_rows_pass_int_max():
    # Grey 1x3 with a 1 GiB stride: row 2 starts 2 GiB after `pixels`, and
    # pygame's y * pitch in an int wraps that to 2 GiB before it. `pixels` is
    # put 2 GiB past a byte the test owns, so that a wrapped write lands there.
    owned = Record(1, 1, channels=1)
    record = Record(1, 1, channels=1)
    record.image.height = 3
    record.image.row_stride = 1 << 30
    record.image.pixels = owned.pixel_address + (1 << 31)
    surface = convert(record.text)
    if surface is not None:
        surface.set_at((0, 2), (1, 1, 1))
    assert bytes(owned.memory) == bytes([CANARY])
