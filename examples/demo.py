"""Draw with pygame straight into RImage records, then save the result as a PNG.

The demo owns RImage records (Quorvel.RImage, a ctypes structure) over pixel
buffers it allocates itself. Quorvelc.RImage_asSDLSurface turns each record into a pygame Surface
that shows the record's own memory.

Still mode (the default) uses four records (grey, RGB, BGR and BGRA). It

  * paints a gradient into each record through ctypes and reads it back
    through the Surface (writes to the record show in the Surface);
  * draws shapes into each Surface with pygame and reads the record's bytes
    back through ctypes (writes through the Surface change the record);
  * composes the four Surfaces side by side and saves a PNG.

Live mode (--live) animates one record: every frame, Python writes new pixels
into the record's own memory through a memoryview of its buffer, and the
window shows them by blitting the record's one Surface, made once, with a
frame counter on top. It checks each frame that the record's bytes changed and
that the window shows them, prints the frame count and a checksum of all the
frames, and saves the last frame as a PNG.

Runs headless (SDL's dummy video driver) unless --window or --live is given
and a display is available.

    python examples/demo.py                      # writes demo.png
    python examples/demo.py --out /tmp/x.png
    python examples/demo.py --window             # also shows it in a window
    python examples/demo.py --live               # animates until the window is closed
    python examples/demo.py --live --frames 60   # runs 60 frames, then exits
"""

from __future__ import annotations

import argparse
import colorsys
import ctypes
import math
import os
import sys
import time
import zlib
from collections.abc import Sequence
from typing import Callable

os.environ.setdefault("PYGAME_HIDE_SUPPORT_PROMPT", "1")

import pygame  # after the variable above, which hides pygame's banner

import Quorvelc
from Quorvel import RImage, pointer_text  # the record's one declaration

POINTER_SIZE = ctypes.sizeof(ctypes.c_void_p)

RGBA = tuple[int, int, int, int]
Point = tuple[int, int]


class OwnedImage:
    """An RImage record plus the pixel memory it points to, both owned here.

    Its `this` attribute holds the record's pointer text, so an OwnedImage can
    be handed to RImage_asSDLSurface as it is: the module accepts a pointer
    text or any object whose `this` holds one.
    """

    PADDING = 0xA5  # marks the bytes between rows; nothing should touch them

    def __init__(self, width: int, height: int, channels: int, channel_order: bytes, depth: int = 8) -> None:
        self.channels = channels
        # Rows start on 4-byte boundaries, as many image libraries lay them
        # out; for 1 and 3 channels that leaves a few padding bytes per row.
        self.row_stride = (width * channels + 3) & ~3
        # An array of 32-bit words is 4-byte aligned, which 4-channel records
        # need (the module refuses those whose pixels are not).
        self.buffer = (ctypes.c_uint32 * (self.row_stride * height // 4))()
        self.address = ctypes.addressof(self.buffer)
        self.size = ctypes.sizeof(self.buffer)
        ctypes.memset(self.address, self.PADDING, self.size)

        self.record = RImage()
        self.record.channels = channels
        self.record.depth = depth
        self.record.channel_order = channel_order
        self.record.width = width
        self.record.height = height
        self.record.pixels = self.address
        self.record.row_stride = self.row_stride
        self.this = pointer_text(self.record)

    @property
    def width(self) -> int:
        return int(self.record.width)

    @property
    def height(self) -> int:
        return int(self.record.height)

    def pixel_bytes(self, x: int, y: int) -> bytes:
        """The bytes of pixel (x, y), read from the record's memory through ctypes."""
        offset = y * self.row_stride + x * self.channels
        return ctypes.string_at(self.address + offset, self.channels)

    def snapshot(self) -> bytes:
        return ctypes.string_at(self.address, self.size)

    def padding_untouched(self) -> bool:
        data = self.snapshot()
        used = self.width * self.channels
        pad = bytes([self.PADDING]) * (self.row_stride - used)
        return all(
            data[row * self.row_stride + used : (row + 1) * self.row_stride] == pad for row in range(self.height)
        )


# ---------------------------------------------------------------- the pictures

W, H = 190, 140


def clamp(value: float) -> int:
    return max(0, min(255, int(value)))


def grey_paint(x: int, y: int) -> RGBA:
    r = math.hypot(x - 0.68 * W, y - 0.55 * H)  # ripples around the disc drawn later
    v = clamp(210 - 0.9 * r + 26 * math.cos(r / 5.0))
    return v, v, v, 255


def rgb_paint(x: int, y: int) -> RGBA:
    r = 255 * x / (W - 1)
    g = 255 * y / (H - 1)
    return clamp(r), clamp(g), clamp(230 - r / 2), 255


def _mix(a: Sequence[float], b: Sequence[float], t: float) -> tuple[float, ...]:
    return tuple(p + (q - p) * t for p, q in zip(a, b))


def bgr_paint(x: int, y: int) -> RGBA:
    t = y / (H - 1)
    top, middle, low = (36, 28, 96), (236, 104, 92), (255, 196, 120)
    c = _mix(top, middle, t / 0.6) if t < 0.6 else _mix(middle, low, (t - 0.6) / 0.4)
    return clamp(c[0]), clamp(c[1]), clamp(c[2]), 255


def bgra_paint(x: int, y: int) -> RGBA:
    r, g, b = colorsys.hsv_to_rgb((0.45 + 0.5 * x / W) % 1.0, 0.6, 1.0)
    return clamp(255 * r), clamp(255 * g), clamp(255 * b), clamp(255 - 200 * y / (H - 1))


def star(cx: float, cy: float, outer: float, inner: float, points: int = 5) -> list[tuple[float, float]]:
    corners = []
    for i in range(points * 2):
        radius = outer if i % 2 == 0 else inner
        angle = math.pi * i / points - math.pi / 2
        corners.append((cx + radius * math.cos(angle), cy + radius * math.sin(angle)))
    return corners


def grey_draw(surface: pygame.Surface) -> Point:
    centre = (int(W * 0.68), int(H * 0.55))
    pygame.draw.circle(surface, (255, 255, 255), centre, 34)
    pygame.draw.circle(surface, (0, 0, 0), centre, 34, 4)
    for i in range(8):  # a small ramp of grey levels along the bottom
        surface.fill((i * 36,) * 3, pygame.Rect(10 + i * 14, H - 22, 12, 12))
    return centre


def rgb_draw(surface: pygame.Surface) -> Point:
    centre = (W // 2, H // 2)
    corners = star(centre[0], centre[1], 52, 22)
    pygame.draw.polygon(surface, (255, 232, 90), corners)
    pygame.draw.polygon(surface, (50, 30, 10), corners, 3)
    return centre


def bgr_draw(surface: pygame.Surface) -> Point:
    centre = (W // 2, int(H * 0.58))
    pygame.draw.circle(surface, (255, 240, 180), centre, 24)
    hills = [
        (0, H),
        (0, int(H * 0.8)),
        (W // 4, int(H * 0.72)),
        (W // 2, int(H * 0.82)),
        (int(W * 0.78), int(H * 0.7)),
        (W, int(H * 0.78)),
        (W, H),
    ]
    pygame.draw.polygon(surface, (28, 64, 52), hills)
    return centre


def bgra_draw(surface: pygame.Surface) -> Point:
    card = pygame.Rect(18, 18, 86, 56)
    pygame.draw.rect(surface, (255, 255, 255, 255), card, border_radius=10)
    pygame.draw.circle(surface, (24, 20, 60, 255), (int(W * 0.7), int(H * 0.62)), 30, 6)
    return card.center


Painter = Callable[[int, int], RGBA]
Drawer = Callable[[pygame.Surface], Point]

# name, channels, channel order, how it is passed, painter, drawer
PICTURES: list[tuple[str, int, bytes, str, Painter, Drawer]] = [
    ("grey", 1, b"GRAY", "wrapper", grey_paint, grey_draw),
    ("RGB", 3, b"RGB", "text", rgb_paint, rgb_draw),
    ("BGR", 3, b"BGR", "wrapper", bgr_paint, bgr_draw),
    ("BGRA", 4, b"BGRA", "text", bgra_paint, bgra_draw),
]


def encode(rgba: Sequence[int], channels: int, order: bytes) -> bytes:
    """The bytes one pixel of colour `rgba` occupies in a record of this format."""
    r, g, b, a = rgba
    if channels == 1:
        return bytes([r])
    red_first = order[:1] == b"R"
    colour = [r, g, b] if red_first else [b, g, r]
    return bytes(colour + [a] if channels == 4 else colour)


def paint_record(image: OwnedImage, order: bytes, paint: Painter) -> None:
    """Writes a picture into the record's memory through ctypes, row by row."""
    used = image.width * image.channels
    for y in range(image.height):
        row = b"".join(encode(paint(x, y), image.channels, order) for x in range(image.width))
        assert len(row) == used
        ctypes.memmove(image.address + y * image.row_stride, row, used)


# ---------------------------------------------------------------- running it


def parse_args() -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument(
        "--out", default="demo.png", help="PNG to write (default: demo.png); with --live, the last frame"
    )
    parser.add_argument("--window", action="store_true", help="also show the result in a window, when a display exists")
    parser.add_argument(
        "--seconds", type=float, default=5.0, help="how long the window stays open; 0 waits until it is closed"
    )
    parser.add_argument("--live", action="store_true", help="animate a record in a window (headless without a display)")
    parser.add_argument(
        "--frames",
        type=int,
        default=0,
        help="with --live: stop after this many frames (default: run until "
        f"the window is closed; {HEADLESS_FRAMES} when headless)",
    )
    parser.add_argument(
        "--no-font",
        action="store_true",
        help="with --live: draw the frame counter with rectangles even when pygame.font works",
    )
    args = parser.parse_args()
    if args.frames < 0:
        parser.error("--frames must be 0 or more")
    return args


def display_available() -> bool:
    if not sys.platform.startswith("linux"):
        return True
    return bool(os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY"))


class DemoFailure(Exception):
    pass


def check(condition: bool, message: str) -> None:
    if not condition:
        raise DemoFailure(message)


def hexbytes(data: bytes) -> str:
    return " ".join(f"{b:02x}" for b in data)


def show_refusals() -> None:
    print("\nWhat the module refuses:")
    deep = OwnedImage(8, 8, 3, b"RGB", depth=16)
    two = OwnedImage(8, 8, 2, b"RG")
    refused: list[tuple[str, str | OwnedImage | None]] = [
        ("a 16-bit-per-channel record", deep),
        ("a 2-channel record", two),
        ("None", None),
        ('"NULL"', "NULL"),
    ]
    for label, argument in refused:
        result = Quorvelc.RImage_asSDLSurface(argument)
        check(result is None, f"{label} gave {result!r}, expected None")
        print(f"  {label:<36} -> None")
    wrong_tag = deep.this.replace("_p_RImage", "_p_RPoint")
    wrong: list[tuple[str, object]] = [("a pointer text tagged _p_RPoint", wrong_tag), ("the integer 42", 42)]
    for label, value in wrong:
        try:
            # A type checker rejects the integer too; the module must as well.
            Quorvelc.RImage_asSDLSurface(value)  # type: ignore[arg-type]
        except TypeError as error:
            print(f"  {label:<36} -> TypeError: {error}")
        else:
            raise DemoFailure(f"{label} raised no TypeError")


def compose(surfaces: list[tuple[str, pygame.Surface]], font: pygame.font.Font | None) -> pygame.Surface:
    margin, caption = 16, 22 if font else 0
    title = 30 if font else 0
    width = len(surfaces) * (W + margin) + margin
    height = title + margin + H + caption + margin
    canvas = pygame.Surface((width, height))
    canvas.fill((22, 24, 32))
    if font:
        text = font.render("pygame drew into these RImage records", True, (225, 228, 240))
        canvas.blit(text, (margin, 12))
    for i, (name, surface) in enumerate(surfaces):
        x, y = margin + i * (W + margin), title + margin
        # a checkerboard behind each picture shows the BGRA record's alpha
        for cy in range(0, H, 10):
            for cx in range(0, W, 10):
                shade = 70 if (cx + cy) // 10 % 2 else 110
                canvas.fill((shade, shade, shade + 8), pygame.Rect(x + cx, y + cy, 10, 10))
        canvas.blit(surface, (x, y))
        pygame.draw.rect(canvas, (150, 156, 176), pygame.Rect(x - 1, y - 1, W + 2, H + 2), 1)
        if font:
            label = f"{name}  {surface.get_bitsize()}-bit"
            canvas.blit(font.render(label, True, (200, 204, 220)), (x, y + H + 5))
    return canvas


def optional_font(size: int = 22) -> pygame.font.Font | None:
    # Labels are decoration: pygame.font can be missing from a build, or fail
    # to start, and the demo goes on without text then.
    try:
        pygame.font.init()
        return pygame.font.Font(None, size)
    except Exception as error:  # noqa: BLE001  ImportError, NotImplementedError, pygame.error
        print(f"(no text: pygame.font is unavailable: {error})")
        return None


def show_window(canvas: pygame.Surface, seconds: float) -> None:
    pygame.display.init()
    screen = pygame.display.set_mode(canvas.get_size())
    pygame.display.set_caption("Quorvelc demo")
    screen.blit(canvas, (0, 0))
    pygame.display.flip()
    deadline = time.monotonic() + seconds if seconds > 0 else None
    clock = pygame.time.Clock()
    while deadline is None or time.monotonic() < deadline:
        if quit_requested():
            break
        clock.tick(30)
    pygame.display.quit()


def quit_requested() -> bool:
    return any(
        event.type == pygame.QUIT or (event.type == pygame.KEYDOWN and event.key == pygame.K_ESCAPE)
        for event in pygame.event.get()
    )


def still(args: argparse.Namespace, window: bool) -> int:
    # The records and their pixel buffers must stay alive for as long as any
    # Surface made from them is used: a Surface shows the buffer's memory
    # directly and holds no reference to the record or the buffer. Were an
    # OwnedImage freed first, drawing into or blitting its Surface would touch
    # freed memory. `images` keeps them until the Surfaces are gone.
    images: list[OwnedImage] = []
    surfaces: list[tuple[str, pygame.Surface]] = []
    for name, channels, order, passed_as, paint, draw in PICTURES:
        image = OwnedImage(W, H, channels, order)
        images.append(image)
        argument: str | OwnedImage = image if passed_as == "wrapper" else image.this
        surface = Quorvelc.RImage_asSDLSurface(argument)
        if surface is None:
            raise DemoFailure(f"{name}: RImage_asSDLSurface gave None")
        surfaces.append((name, surface))

        print(f"\n{name}: passed as {'a wrapper with this=' if passed_as == 'wrapper' else 'the text '}{image.this}")
        print(
            f"  Surface {surface.get_width()}x{surface.get_height()}, "
            f"{surface.get_bitsize()} bits, pitch {surface.get_pitch()} "
            f"(row_stride {image.row_stride}), masks "
            f"({', '.join(hex(m) for m in surface.get_masks())})"
        )
        check(surface.get_size() == (W, H), f"{name}: wrong size {surface.get_size()}")
        check(surface.get_pitch() == image.row_stride, f"{name}: pitch is not the row stride")

        # record -> Surface: paint through ctypes, read through pygame
        paint_record(image, order, paint)
        probe = (W // 5, H // 5)
        expected = paint(*probe)
        seen = tuple(surface.get_at(probe))
        if channels < 4:
            expected = expected[:3] + (255,)
        print(f"  ctypes wrote a gradient; Surface.get_at{probe} = {seen}")
        check(seen == expected, f"{name}: Surface shows {seen}, the record holds {expected}")

        # Surface -> record: draw with pygame, read the record's bytes through ctypes
        before = image.snapshot()
        spot = draw(surface)
        spot_before = before[spot[1] * image.row_stride + spot[0] * channels :][:channels]
        after = image.snapshot()
        changed = sum(1 for a, b in zip(before, after) if a != b)
        colour = tuple(surface.get_at(spot))
        print(
            f"  pygame drew: {changed} of {image.size} record bytes changed; "
            f"pixel {spot} bytes {hexbytes(spot_before)} -> {hexbytes(image.pixel_bytes(*spot))} "
            f"(Surface colour {colour})"
        )
        check(changed > 0, f"{name}: drawing changed no byte of the record")
        check(
            image.pixel_bytes(*spot) == encode(colour, channels, order),
            f"{name}: record bytes and Surface colour disagree at {spot}",
        )
        check(image.padding_untouched(), f"{name}: bytes between rows were written")
        if image.row_stride > W * channels:
            print(f"  the {image.row_stride - W * channels} padding bytes after each row are untouched")

    show_refusals()

    font = optional_font()
    canvas = compose(surfaces, font)
    out = os.path.abspath(args.out)
    pygame.image.save(canvas, out)
    print(f"\nwrote {out} ({canvas.get_width()}x{canvas.get_height()})")

    if window:
        show_window(canvas, args.seconds)

    # Surfaces first, then the memory they show.
    del canvas, surfaces, surface
    del images, image
    return 0


# ---------------------------------------------------------------- live mode

LIVE_W, LIVE_H = 480, 270
HEADLESS_FRAMES = 120
STRIPE_PERIOD = 240  # pixels before the rainbow repeats


class Animation:
    """Writes frame after frame of moving rainbow waves into a 3-channel
    record, row by row, through a memoryview of the record's own buffer."""

    def __init__(self, image: OwnedImage, order: bytes) -> None:
        self.image = image
        self.pixels = memoryview(image.buffer).cast("B")
        self.used = image.width * image.channels
        colours = []
        for i in range(STRIPE_PERIOD):
            r, g, b = colorsys.hsv_to_rgb(i / STRIPE_PERIOD, 0.75, 1.0)
            colours.append(encode((clamp(255 * r), clamp(255 * g), clamp(255 * b), 255), image.channels, order))
        # Long enough that every row is one slice, whatever its shift.
        self.strip = b"".join(colours[i % STRIPE_PERIOD] for i in range(image.width + STRIPE_PERIOD))

    def shift(self, frame: int, y: int) -> int:
        wave = int(28 * math.sin(y / 19.0 + frame / 11.0) + 12 * math.sin(y / 7.0 - frame / 5.0))
        return (3 * frame + y // 3 + wave) % STRIPE_PERIOD

    def write(self, frame: int) -> None:
        channels, stride, used = self.image.channels, self.image.row_stride, self.used
        for y in range(self.image.height):
            start = self.shift(frame, y) * channels
            self.pixels[y * stride : y * stride + used] = self.strip[start : start + used]

    def expected(self, frame: int, x: int, y: int) -> bytes:
        """The bytes that frame `frame` wrote at pixel (x, y)."""
        start = (self.shift(frame, y) + x) * self.image.channels
        return self.strip[start : start + self.image.channels]

    def release(self) -> None:
        self.pixels.release()


# Segments of a seven-segment digit as rectangles in a 4 x 7 cell grid.
SEGMENTS = {
    "a": (0, 0, 4, 1),
    "b": (3, 0, 1, 4),
    "c": (3, 3, 1, 4),
    "d": (0, 6, 4, 1),
    "e": (0, 3, 1, 4),
    "f": (0, 0, 1, 4),
    "g": (0, 3, 4, 1),
}
DIGITS = ["abcdef", "bc", "abdeg", "abcdg", "bcfg", "acdfg", "acdefg", "abc", "abcdefg", "abcdfg"]


# The display's type is pygame.surface.Surface in every pygame's stubs; in
# pygame 2.1.2's, pygame.Surface is a subclass of it.
def draw_digits(screen: pygame.surface.Surface, number: int, at: Point, cell: int = 3) -> pygame.Rect:
    """Draws `number` with rectangles (no font needed); gives the area used."""
    x, y = at
    for char in str(number):
        for segment in DIGITS[int(char)]:
            sx, sy, sw, sh = SEGMENTS[segment]
            screen.fill((255, 255, 255), pygame.Rect(x + sx * cell, y + sy * cell, sw * cell, sh * cell))
        x += 6 * cell
    return pygame.Rect(at[0], at[1], x - at[0], 7 * cell)


def draw_counter(screen: pygame.surface.Surface, frame: int, total: int, font: pygame.font.Font | None) -> pygame.Rect:
    """The frame counter, on a dark plate in the top left corner."""
    plate = pygame.Rect(0, 0, 190, 34)
    screen.fill((16, 18, 26), plate)
    if font:
        limit = f"/{total}" if total else ""
        screen.blit(font.render(f"frame {frame}{limit}", True, (240, 240, 240)), (10, 8))
    else:
        draw_digits(screen, frame, (10, 6))
    if total:  # a progress bar under the number
        screen.fill((90, 200, 120), pygame.Rect(0, 31, plate.width * frame // total, 3))
    return plate


def live(args: argparse.Namespace, window: bool) -> int:
    frames = args.frames or (0 if window else HEADLESS_FRAMES)
    pygame.display.init()
    screen = pygame.display.set_mode((LIVE_W, LIVE_H))
    pygame.display.set_caption("Quorvelc live demo")
    font = None if args.no_font else optional_font(26)

    # The record and its buffer outlive the Surface: `image` is deleted last.
    image = OwnedImage(LIVE_W, LIVE_H, 3, b"RGB")
    animation = Animation(image, b"RGB")
    surface = Quorvelc.RImage_asSDLSurface(image)
    if surface is None:
        raise DemoFailure("RImage_asSDLSurface gave None for the live record")
    print(
        f"live: {LIVE_W}x{LIVE_H} RGB record {image.this}, "
        f"{'window' if window else 'headless'} ({pygame.display.get_driver()} video driver), "
        f"{'until the window is closed' if not frames else f'{frames} frames'}, "
        f"frame counter drawn {'with pygame.font' if font else 'with rectangles'}"
    )

    probe = (LIVE_W - 7, LIVE_H - 5)  # away from the counter's plate
    checksum = 0
    previous = zlib.crc32(animation.pixels)  # the buffer before the first frame
    changed = 0
    clock = pygame.time.Clock()
    frame = 0
    while not frames or frame < frames:
        if quit_requested():
            break
        frame += 1
        animation.write(frame)
        digest = zlib.crc32(animation.pixels)
        checksum = zlib.crc32(digest.to_bytes(4, "little"), checksum)
        if digest != previous:
            changed += 1
        previous = digest

        screen.blit(surface, (0, 0))
        plate = draw_counter(screen, frame, frames, font)
        check(not plate.collidepoint(probe), "the probe pixel lies under the counter")
        shown = encode(tuple(screen.get_at(probe)), 3, b"RGB")
        check(
            image.pixel_bytes(*probe) == animation.expected(frame, *probe),
            f"frame {frame}: the record does not hold what Python wrote",
        )
        check(
            shown == animation.expected(frame, *probe), f"frame {frame}: the window does not show the record's pixels"
        )
        pygame.display.flip()
        if window:
            clock.tick(60)

    check(changed == frame, f"the record's bytes stayed the same in {frame - changed} of {frame} frames")
    pygame.image.save(screen, os.path.abspath(args.out))
    print(f"live: ran {frame} frames; the record's bytes changed in {changed} of them; checksum {checksum:08x}")
    print(f"wrote {os.path.abspath(args.out)} (the last frame)")
    pygame.display.quit()

    # Surface first, then the memory it shows.
    del surface
    animation.release()
    del animation, image
    return 0


def main() -> int:
    args = parse_args()
    wants_window = args.window or args.live
    window = wants_window and display_available()
    if wants_window and not window:
        print(f"{'--live' if args.live else '--window'}: no display found, running headless")
    if not window:
        # Read when the video system starts, which only the window and --live do.
        os.environ["SDL_VIDEODRIVER"] = "dummy"

    print(
        f"pygame {pygame.version.ver} (SDL {'.'.join(map(str, pygame.get_sdl_version()))}), "
        f"{POINTER_SIZE * 8}-bit pointers, RImage record of {ctypes.sizeof(RImage)} bytes"
    )
    return live(args, window) if args.live else still(args, window)


if __name__ == "__main__":
    try:
        sys.exit(main())
    except DemoFailure as failure:
        print(f"demo failed: {failure}", file=sys.stderr)
        sys.exit(1)
