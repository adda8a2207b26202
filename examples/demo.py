"""Draw with pygame straight into RImage records, then save the result as a PNG.

The demo owns four RImage records (grey, RGB, BGR and BGRA) built with ctypes
over pixel buffers it allocates itself. Quorvelc.RImage_asSDLSurface turns each
record into a pygame Surface that shows the record's own memory. The demo then

  * paints a gradient into each record through ctypes and reads it back
    through the Surface (writes to the record show in the Surface);
  * draws shapes into each Surface with pygame and reads the record's bytes
    back through ctypes (writes through the Surface change the record);
  * composes the four Surfaces side by side and saves a PNG.

Runs headless (SDL's dummy video driver) unless --window is given and a
display is available.

    python examples/demo.py                 # writes demo.png
    python examples/demo.py --out /tmp/x.png
    python examples/demo.py --window        # also shows it in a window
"""

import argparse
import colorsys
import ctypes
import math
import os
import sys
import time

POINTER_SIZE = ctypes.sizeof(ctypes.c_void_p)


class RImage(ctypes.Structure):
    """The image record, as Quorvelc reads it. Fields named `unused_*` are not read."""

    _fields_ = [
        ("unused_0", ctypes.c_int * 2),
        ("channels", ctypes.c_int),
        ("unused_1", ctypes.c_int),
        ("depth", ctypes.c_int),
        ("unused_2", ctypes.c_char * 4),
        ("channel_order", ctypes.c_char * 4),
        ("unused_3", ctypes.c_int * 3),
        ("width", ctypes.c_int),
        ("height", ctypes.c_int),
        ("unused_4", ctypes.c_void_p * 4),
        ("unused_5", ctypes.c_int),
        # A `char *` in C; c_void_p reads back as a plain integer address.
        ("pixels", ctypes.c_void_p),
        ("row_stride", ctypes.c_int),
    ]


# The layout the module expects: 64-bit offsets, and those of a 32-bit build.
EXPECTED_OFFSETS = {
    8: {"channels": 8, "depth": 16, "channel_order": 24, "width": 40,
        "height": 44, "pixels": 88, "row_stride": 96},
    4: {"channels": 8, "depth": 16, "channel_order": 24, "width": 40,
        "height": 44, "pixels": 68, "row_stride": 72},
}
for _name, _offset in EXPECTED_OFFSETS[POINTER_SIZE].items():
    assert getattr(RImage, _name).offset == _offset, (_name, _offset)


def pointer_text(address):
    """The pointer text of the RImage at `address`: '_', the pointer's bytes in
    memory order as lower-case hex, then the type tag."""
    return "_" + address.to_bytes(POINTER_SIZE, sys.byteorder).hex() + "_p_RImage"


class OwnedImage:
    """An RImage record plus the pixel memory it points to, both owned here.

    Its `this` attribute holds the record's pointer text, so an OwnedImage can
    be handed to RImage_asSDLSurface as it is: the module accepts a pointer
    text or any object whose `this` holds one.
    """

    PADDING = 0xA5  # marks the bytes between rows; nothing should touch them

    def __init__(self, width, height, channels, channel_order, depth=8):
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
        self.this = pointer_text(ctypes.addressof(self.record))

    @property
    def width(self):
        return self.record.width

    @property
    def height(self):
        return self.record.height

    def pixel_bytes(self, x, y):
        """The bytes of pixel (x, y), read from the record's memory through ctypes."""
        offset = y * self.row_stride + x * self.channels
        return ctypes.string_at(self.address + offset, self.channels)

    def snapshot(self):
        return ctypes.string_at(self.address, self.size)

    def padding_untouched(self):
        data = self.snapshot()
        used = self.width * self.channels
        pad = bytes([self.PADDING]) * (self.row_stride - used)
        return all(data[row * self.row_stride + used:(row + 1) * self.row_stride] == pad
                   for row in range(self.height))


# ---------------------------------------------------------------- the pictures

W, H = 190, 140


def clamp(value):
    return max(0, min(255, int(value)))


def grey_paint(x, y):
    r = math.hypot(x - 0.68 * W, y - 0.55 * H)  # ripples around the disc drawn later
    v = clamp(210 - 0.9 * r + 26 * math.cos(r / 5.0))
    return v, v, v, 255


def rgb_paint(x, y):
    r = 255 * x / (W - 1)
    g = 255 * y / (H - 1)
    return clamp(r), clamp(g), clamp(230 - r / 2), 255


def _mix(a, b, t):
    return tuple(p + (q - p) * t for p, q in zip(a, b))


def bgr_paint(x, y):
    t = y / (H - 1)
    top, middle, low = (36, 28, 96), (236, 104, 92), (255, 196, 120)
    c = _mix(top, middle, t / 0.6) if t < 0.6 else _mix(middle, low, (t - 0.6) / 0.4)
    return clamp(c[0]), clamp(c[1]), clamp(c[2]), 255


def bgra_paint(x, y):
    r, g, b = colorsys.hsv_to_rgb((0.45 + 0.5 * x / W) % 1.0, 0.6, 1.0)
    return clamp(255 * r), clamp(255 * g), clamp(255 * b), clamp(255 - 200 * y / (H - 1))


def star(cx, cy, outer, inner, points=5):
    corners = []
    for i in range(points * 2):
        radius = outer if i % 2 == 0 else inner
        angle = math.pi * i / points - math.pi / 2
        corners.append((cx + radius * math.cos(angle), cy + radius * math.sin(angle)))
    return corners


def grey_draw(pygame, surface):
    centre = (int(W * 0.68), int(H * 0.55))
    pygame.draw.circle(surface, (255, 255, 255), centre, 34)
    pygame.draw.circle(surface, (0, 0, 0), centre, 34, 4)
    for i in range(8):  # a small ramp of grey levels along the bottom
        surface.fill((i * 36,) * 3, pygame.Rect(10 + i * 14, H - 22, 12, 12))
    return centre


def rgb_draw(pygame, surface):
    centre = (W // 2, H // 2)
    corners = star(centre[0], centre[1], 52, 22)
    pygame.draw.polygon(surface, (255, 232, 90), corners)
    pygame.draw.polygon(surface, (50, 30, 10), corners, 3)
    return centre


def bgr_draw(pygame, surface):
    centre = (W // 2, int(H * 0.58))
    pygame.draw.circle(surface, (255, 240, 180), centre, 24)
    hills = [(0, H), (0, int(H * 0.8)), (W // 4, int(H * 0.72)), (W // 2, int(H * 0.82)),
             (int(W * 0.78), int(H * 0.7)), (W, int(H * 0.78)), (W, H)]
    pygame.draw.polygon(surface, (28, 64, 52), hills)
    return centre


def bgra_draw(pygame, surface):
    card = pygame.Rect(18, 18, 86, 56)
    pygame.draw.rect(surface, (255, 255, 255, 255), card, border_radius=10)
    pygame.draw.circle(surface, (24, 20, 60, 255), (int(W * 0.7), int(H * 0.62)), 30, 6)
    return card.center


# name, channels, channel order, how it is passed, painter, drawer
PICTURES = [
    ("grey", 1, b"GRAY", "wrapper", grey_paint, grey_draw),
    ("RGB", 3, b"RGB", "text", rgb_paint, rgb_draw),
    ("BGR", 3, b"BGR", "wrapper", bgr_paint, bgr_draw),
    ("BGRA", 4, b"BGRA", "text", bgra_paint, bgra_draw),
]


def encode(rgba, channels, order):
    """The bytes one pixel of colour `rgba` occupies in a record of this format."""
    r, g, b, a = rgba
    if channels == 1:
        return bytes([r])
    red_first = order[:1] == b"R"
    colour = [r, g, b] if red_first else [b, g, r]
    return bytes(colour + [a] if channels == 4 else colour)


def paint_record(image, order, paint):
    """Writes a picture into the record's memory through ctypes, row by row."""
    used = image.width * image.channels
    for y in range(image.height):
        row = b"".join(encode(paint(x, y), image.channels, order) for x in range(image.width))
        assert len(row) == used
        ctypes.memmove(image.address + y * image.row_stride, row, used)


# ---------------------------------------------------------------- running it

def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default="demo.png", help="PNG to write (default: demo.png)")
    parser.add_argument("--window", action="store_true",
                        help="also show the result in a window, when a display exists")
    parser.add_argument("--seconds", type=float, default=5.0,
                        help="how long the window stays open; 0 waits until it is closed")
    return parser.parse_args()


def display_available():
    if not sys.platform.startswith("linux"):
        return True
    return bool(os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY"))


class DemoFailure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise DemoFailure(message)


def hexbytes(data):
    return " ".join(f"{b:02x}" for b in data)


def show_refusals(Quorvelc):
    print("\nWhat the module refuses:")
    deep = OwnedImage(8, 8, 3, b"RGB", depth=16)
    two = OwnedImage(8, 8, 2, b"RG")
    for label, argument in [("a 16-bit-per-channel record", deep),
                            ("a 2-channel record", two),
                            ("None", None),
                            ('"NULL"', "NULL")]:
        result = Quorvelc.RImage_asSDLSurface(argument)
        check(result is None, f"{label} gave {result!r}, expected None")
        print(f"  {label:<36} -> None")
    wrong_tag = deep.this.replace("_p_RImage", "_p_RPoint")
    for label, argument in [("a pointer text tagged _p_RPoint", wrong_tag),
                            ("the integer 42", 42)]:
        try:
            Quorvelc.RImage_asSDLSurface(argument)
        except TypeError as error:
            print(f"  {label:<36} -> TypeError: {error}")
        else:
            raise DemoFailure(f"{label} raised no TypeError")


def compose(pygame, surfaces, font):
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


def optional_font(pygame):
    # Labels are decoration: pygame.font can be missing from a build, or fail
    # to start, and the demo goes on without text then.
    try:
        import pygame.font
        pygame.font.init()
        return pygame.font.Font(None, 22)
    except Exception as error:  # ImportError, NotImplementedError, pygame.error
        print(f"(no labels: pygame.font is unavailable: {error})")
        return None


def show_window(pygame, canvas, seconds):
    pygame.display.init()
    screen = pygame.display.set_mode(canvas.get_size())
    pygame.display.set_caption("Quorvelc demo")
    screen.blit(canvas, (0, 0))
    pygame.display.flip()
    deadline = time.monotonic() + seconds if seconds > 0 else None
    clock = pygame.time.Clock()
    while deadline is None or time.monotonic() < deadline:
        if any(event.type == pygame.QUIT or
               (event.type == pygame.KEYDOWN and event.key == pygame.K_ESCAPE)
               for event in pygame.event.get()):
            break
        clock.tick(30)
    pygame.display.quit()


def main():
    args = parse_args()
    window = args.window and display_available()
    if args.window and not window:
        print("--window: no display found, running headless")
    # Must be set before pygame is imported (importing Quorvelc imports it).
    if not window:
        os.environ["SDL_VIDEODRIVER"] = "dummy"
    os.environ.setdefault("PYGAME_HIDE_SUPPORT_PROMPT", "1")

    import pygame
    import Quorvelc

    print(f"pygame {pygame.version.ver} (SDL {'.'.join(map(str, pygame.get_sdl_version()))}), "
          f"{POINTER_SIZE * 8}-bit pointers, RImage record of {ctypes.sizeof(RImage)} bytes")

    # The records and their pixel buffers must stay alive for as long as any
    # Surface made from them is used: a Surface shows the buffer's memory
    # directly and holds no reference to the record or the buffer. Were an
    # OwnedImage freed first, drawing into or blitting its Surface would touch
    # freed memory. `images` keeps them until the Surfaces are gone.
    images = []
    surfaces = []
    for name, channels, order, passed_as, paint, draw in PICTURES:
        image = OwnedImage(W, H, channels, order)
        images.append(image)
        argument = image if passed_as == "wrapper" else image.this
        surface = Quorvelc.RImage_asSDLSurface(argument)
        check(surface is not None, f"{name}: RImage_asSDLSurface gave None")
        surfaces.append((name, surface))

        print(f"\n{name}: passed as {'a wrapper with this=' if passed_as == 'wrapper' else 'the text '}"
              f"{image.this}")
        print(f"  Surface {surface.get_width()}x{surface.get_height()}, "
              f"{surface.get_bitsize()} bits, pitch {surface.get_pitch()} "
              f"(row_stride {image.row_stride}), masks "
              f"({', '.join(hex(m) for m in surface.get_masks())})")
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
        spot = draw(pygame, surface)
        spot_before = before[spot[1] * image.row_stride + spot[0] * channels:][:channels]
        after = image.snapshot()
        changed = sum(1 for a, b in zip(before, after) if a != b)
        colour = tuple(surface.get_at(spot))
        print(f"  pygame drew: {changed} of {image.size} record bytes changed; "
              f"pixel {spot} bytes {hexbytes(spot_before)} -> {hexbytes(image.pixel_bytes(*spot))} "
              f"(Surface colour {colour})")
        check(changed > 0, f"{name}: drawing changed no byte of the record")
        check(image.pixel_bytes(*spot) == encode(colour, channels, order),
              f"{name}: record bytes and Surface colour disagree at {spot}")
        check(image.padding_untouched(), f"{name}: bytes between rows were written")
        if image.row_stride > W * channels:
            print(f"  the {image.row_stride - W * channels} padding bytes after each row are untouched")

    show_refusals(Quorvelc)

    font = optional_font(pygame)
    canvas = compose(pygame, surfaces, font)
    out = os.path.abspath(args.out)
    pygame.image.save(canvas, out)
    print(f"\nwrote {out} ({canvas.get_width()}x{canvas.get_height()})")

    if window:
        show_window(pygame, canvas, args.seconds)

    # Surfaces first, then the memory they show.
    del canvas, surfaces, surface
    del images, image
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except DemoFailure as failure:
        print(f"demo failed: {failure}", file=sys.stderr)
        sys.exit(1)
