"""Quorvelc at work: pygame draws straight into RImage records and numpy arrays.

Still mode (the default) draws the README's picture: four RImage records through
Quorvelc.RImage_asSDLSurface, and a numpy frame (a region outlined, an overlay drawn
into it) and a grey image through Quorvel. Live mode (--live) writes a moving scene
into one frame array each frame and shows it through one Surface made once, then
straight into Quorvel.pixels(screen), with the frames per second of each.

    python examples/demo.py [--out demo.png]
    python examples/demo.py --live [--frames 60]   # headless without a display
"""

from __future__ import annotations

import argparse
import math
import os
import sys
import time

os.environ.setdefault("PYGAME_HIDE_SUPPORT_PROMPT", "1")

import numpy as np  # after the variable above, which hides pygame's banner
import pygame
from numpy.typing import NDArray

import Quorvel
import Quorvelc
from Quorvel import RImage, pointer_text  # the record's one declaration

W, H = 190, 140  # each picture of the still mode
LIVE_W, LIVE_H = 480, 270
HEADLESS_FRAMES = 120
# name, channels, channel order, passed as the wrapper (else as its pointer text)
RECORDS = [("grey", 1, b"GRAY", True), ("RGB", 3, b"RGB", False), ("BGR", 3, b"BGR", True), ("BGRA", 4, b"BGRA", False)]


def check(condition: bool, message: str) -> None:
    if not condition:
        sys.exit(f"demo failed: {message}")


class OwnedImage:
    """An RImage record over memory of its own, as a C library's wrapper holds
    one: `this` is the record's pointer text."""

    def __init__(self, channels: int, order: bytes) -> None:
        # Rows start on 4-byte boundaries, as many image libraries lay them out.
        self.memory: NDArray[np.uint8] = np.zeros((H, (W * channels + 3) & ~3), np.uint8)
        self.pixels: NDArray[np.uint8] = self.memory[:, : W * channels].reshape(H, W, channels)
        self.record = RImage(channels=channels, depth=8, channel_order=order, width=W, height=H)
        self.record.pixels, self.record.row_stride = self.memory.ctypes.data, self.memory.shape[1]
        self.this = pointer_text(self.record)


def gradients() -> dict[str, NDArray[np.uint8]]:
    """The picture painted into each record, as (H, W, 4) red-green-blue-alpha."""
    y, x = np.mgrid[0:H, 0:W].astype(float)
    ripple = np.hypot(x - 0.68 * W, y - 0.55 * H)
    grey = 210 - 0.9 * ripple + 26 * np.cos(ripple / 5)
    sky = [np.interp(y / (H - 1), [0, 0.6, 1], stops) for stops in ((36, 236, 255), (28, 104, 196), (96, 92, 120))]
    hue = 2 * math.pi * (0.45 + 0.5 * x / W)
    opaque = np.full_like(x, 255)
    layers = {
        "grey": (grey, grey, grey, opaque),
        "RGB": (255 * x / (W - 1), 255 * y / (H - 1), 230 - 127 * x / (W - 1), opaque),
        "BGR": (*sky, opaque),
        "BGRA": (*(160 + 95 * np.cos(hue - k * 2.1) for k in range(3)), 255 - 200 * y / (H - 1)),
    }
    return {name: np.clip(np.stack(c, axis=2), 0, 255).astype(np.uint8) for name, c in layers.items()}


def star(cx: float, cy: float, outer: float, inner: float) -> list[tuple[float, float]]:
    angles = [math.pi * i / 5 - math.pi / 2 for i in range(10)]
    return [(cx + r * math.cos(a), cy + r * math.sin(a)) for r, a in zip([outer, inner] * 5, angles)]


def draw_shapes(name: str, surface: pygame.Surface) -> None:
    """What pygame draws into each record's Surface."""
    if name == "grey":
        for colour, width in (((255, 255, 255), 0), ((0, 0, 0), 4)):
            pygame.draw.circle(surface, colour, (int(W * 0.68), int(H * 0.55)), 34, width)
        for i in range(8):  # a small ramp of grey levels
            surface.fill((i * 36,) * 3, pygame.Rect(10 + i * 14, H - 22, 12, 12))
    elif name == "RGB":
        for colour, width in (((255, 232, 90), 0), ((50, 30, 10), 3)):
            pygame.draw.polygon(surface, colour, star(W / 2, H / 2, 52, 22), width)
    elif name == "BGR":
        pygame.draw.circle(surface, (255, 240, 180), (W // 2, int(H * 0.58)), 24)
        hills = [(0, H), (0, 112), (47, 100), (95, 115), (148, 98), (W, 109), (W, H)]
        pygame.draw.polygon(surface, (28, 64, 52), hills)
    else:
        pygame.draw.rect(surface, (255, 255, 255, 255), pygame.Rect(18, 18, 86, 56), border_radius=10)
        pygame.draw.circle(surface, (24, 20, 60, 255), (int(W * 0.7), int(H * 0.62)), 30, 6)


def scene(frame: NDArray[np.uint8], t: int) -> None:
    """A synthetic moving picture, written in place into a blue-green-red
    frame, as a camera writes each new frame into the same array."""
    height, width = frame.shape[:2]
    y, x = np.ogrid[0:height, 0:width]
    wave = 28 * np.sin(y / 19 + t / 11) + 12 * np.sin(y / 7 - t / 5)
    frame[:] = RAINBOW[(x + (3 * t + y // 3 + wave).astype(int)) % len(RAINBOW)]


# One period of the moving scene's colours, blue-green-red.
RAINBOW = (150 + 100 * np.cos(np.linspace(0, 2 * math.pi, 240)[:, None] - [4.2, 2.1, 0.0])).astype(np.uint8)


def overlay(surface: pygame.Surface, font: pygame.font.Font | None, text: str) -> None:
    """A box and a label, drawn through a Surface over a frame into the frame."""
    pygame.draw.rect(surface, (20, 24, 34), pygame.Rect(0, 0, 150, 28))
    if font:
        surface.blit(font.render(text, True, (240, 240, 240)), (8, 6))


def optional_font(size: int = 22) -> pygame.font.Font | None:
    # Labels are decoration: pygame.font can be missing or fail to start.
    try:
        pygame.font.init()
        return pygame.font.Font(None, size)
    except Exception:  # noqa: BLE001  ImportError, NotImplementedError, pygame.error
        return None


def compose(panels: list[tuple[str, pygame.Surface]], font: pygame.font.Font | None) -> pygame.Surface:
    margin, caption, title = 16, 22 if font else 0, 30 if font else 0
    canvas = pygame.Surface((3 * (W + margin) + margin, title + 2 * (H + caption + margin) + margin))
    canvas.fill((22, 24, 32))
    if font:
        text = "pygame drew into four RImage records (Quorvelc) and numpy arrays (Quorvel)"
        canvas.blit(font.render(text, True, (225, 228, 240)), (margin, 12))
    for i, (label, surface) in enumerate(panels):
        x, y = margin + i % 3 * (W + margin), title + margin + i // 3 * (H + caption + margin)
        for cx, cy in ((cx, cy) for cx in range(0, W, 10) for cy in range(0, H, 10)):  # a checkerboard shows alpha
            canvas.fill((110 - 40 * ((cx + cy) // 10 % 2),) * 3, pygame.Rect(x + cx, y + cy, 10, 10))
        canvas.blit(surface, (x, y))
        pygame.draw.rect(canvas, (150, 156, 176), pygame.Rect(x - 1, y - 1, W + 2, H + 2), 1)
        if font:
            canvas.blit(font.render(label, True, (200, 204, 220)), (x, y + H + 5))
    return canvas


def still(out: str) -> None:
    # Each record's memory outlives its Surface: `images` goes after `panels`.
    images: list[OwnedImage] = []
    panels: list[tuple[str, pygame.Surface]] = []
    pictures = gradients()
    for name, channels, order, as_wrapper in RECORDS:
        images.append(image := OwnedImage(channels, order))
        image.pixels[:] = pictures[name][:, :, [b"RGBA".index(c) for c in order[:channels]]]
        surface = Quorvelc.RImage_asSDLSurface(image if as_wrapper else image.this)
        if surface is None:
            sys.exit(f"demo failed: RImage_asSDLSurface gave None for the {name} record")
        draw_shapes(name, surface)
        print(f"{name} record {image.this}: {surface.get_bitsize()}-bit Surface, masks {surface.get_masks()}")
        panels.append((f"{name} record, {surface.get_bitsize()}-bit", surface))

    font = optional_font()
    frame: NDArray[np.uint8] = np.zeros((H, W, 3), np.uint8)
    scene(frame, 0)
    region = Quorvel.frombuffer(frame[30:110, 50:160], format="BGR")  # rows stay W pixels apart
    pygame.draw.rect(region, (60, 255, 60), region.get_rect(), 3)
    pygame.draw.line(region, (60, 255, 60), (0, 0), region.get_rect().bottomright, 2)
    overlay(Quorvel.frombuffer(frame, format="BGR"), font, "frame 0")
    check(frame[30, 50].tolist() == [60, 255, 60], "drawing into the region did not reach the frame's pixels")
    grey_shown = Quorvel.frombuffer(np.ascontiguousarray(frame[:, :, 1]), format="L")  # keeps its copy alive
    pygame.draw.circle(grey_shown, (255, 255, 255), (W // 2, H // 2), 30, 5)
    panels += [("numpy frame, a region", Quorvel.frombuffer(frame, format="BGR")), ("numpy grey image", grey_shown)]

    canvas = compose(panels, font)
    pygame.image.save(canvas, out)
    print(f"wrote {out} ({canvas.get_width()}x{canvas.get_height()})")
    del panels, surface  # the Surfaces first, then the records' memory
    del images


def quit_requested() -> bool:
    return any(
        e.type == pygame.QUIT or (e.type == pygame.KEYDOWN and e.key == pygame.K_ESCAPE) for e in pygame.event.get()
    )


def shows_frame(screen: pygame.surface.Surface, frame: NDArray[np.uint8], at: tuple[int, int]) -> bool:
    return bool(list(screen.get_at(at)[:3]) == frame[at[1], at[0], ::-1].tolist())


def live(out: str, frames: int) -> None:
    pygame.display.init()
    screen = pygame.display.set_mode((LIVE_W, LIVE_H))
    font = optional_font(26)
    frame: NDArray[np.uint8] = np.zeros((LIVE_H, LIVE_W, 3), np.uint8)
    shown = Quorvel.frombuffer(frame, format="BGR")  # made once, over the one frame array
    probe = (LIVE_W - 7, LIVE_H - 5)  # away from the overlay
    t = 0

    def next_frame(way: str) -> bool:
        nonlocal t
        if quit_requested() or t == frames:
            return False
        t += 1
        scene(frame, t)
        overlay(shown, font, f"frame {t} {way}")  # drawn into the frame itself
        return True

    start = time.perf_counter()
    while next_frame("blit"):
        screen.blit(shown, (0, 0))
        pygame.display.flip()
    blit_seconds, blit_frames, t = time.perf_counter() - start, t, 0
    check(shows_frame(screen, frame, probe), "the blit did not reach the screen")
    print(f"live: {blit_frames} frames through one Surface, {blit_frames / blit_seconds:.0f} frames per second")

    start = time.perf_counter()
    with Quorvel.pixels(screen) as px:  # the display is locked inside: no blits onto it
        display = np.asarray(px)
        order = [px.format.index(c) for c in "BGR"]  # [0, 1, 2] on the usual "BGRX" display
        while next_frame("direct"):
            display[:, :, order] = frame  # numpy copies this faster than into display[:, :, :3]
            pygame.display.flip()
        direct_seconds = time.perf_counter() - start
    check(shows_frame(screen, frame, probe), "the frame written into Quorvel.pixels(screen) is not on the screen")
    print(f"live: {t} frames straight into Quorvel.pixels(screen), {t / direct_seconds:.0f} frames per second")
    pygame.image.save(screen, out)  # the last frame
    pygame.display.quit()


def main() -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    parser.add_argument("--out", default="demo.png", help="the PNG to write; with --live, of the last frame")
    parser.add_argument("--live", action="store_true", help="the frame loop, in a window when there is a display")
    parser.add_argument("--frames", type=int, default=0, help=f"frames each way ({HEADLESS_FRAMES} headless)")
    args = parser.parse_args()
    window = args.live and bool(
        not sys.platform.startswith("linux") or os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")
    )
    if not window:
        os.environ["SDL_VIDEODRIVER"] = "dummy"  # read when the video system starts
    print(f"pygame {pygame.version.ver}, SDL {pygame.get_sdl_version()}, {'a window' if window else 'headless'}")
    out = os.path.abspath(args.out)
    if args.live:
        live(out, args.frames or (0 if window else HEADLESS_FRAMES))
    else:
        still(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
