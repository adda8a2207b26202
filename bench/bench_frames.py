#!/usr/bin/env python3
"""Frames end to end: from a BGR frame in memory to what the display shows,
flip included, each way pygame and Quorvel offer (the rows: docs/benchmark.md).
All ways run in one process, a block of frames each, way after way, cycle
after cycle (every other cycle reversed), so load that changes between cycles
cancels out of a ratio: the median over cycles of the ratio of the two ways'
block medians. Wall time per frame; cv2 on one thread, as pygame's blits are.
The table goes to stdout and to build/bench-frames-<pygame>.json; the chart of
every such file to docs/benchmark.png. Targets are reported, never enforced.

    python bench/bench_frames.py [--quick] [--probe]
"""

import contextlib
import json
import os
import statistics
import sys
import time
from collections.abc import Iterator
from pathlib import Path
from typing import Any, Callable, NamedTuple

ENV = {"SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "dummy", "PYGAME_HIDE_SUPPORT_PROMPT": "1"}
os.environ.update((name, value) for name, value in ENV.items() if name not in os.environ)

import cv2  # the benchmark's own dependencies, not the module's
import numpy as np
import pygame

import Quorvel
from formats import GREY_RAMP

try:
    from pygame._sdl2 import video
except ImportError:  # a pygame without it: the texture rows are left out
    video = None  # type: ignore[assignment]

QUICK, PROBE = "--quick" in sys.argv, "--probe" in sys.argv
SIZES = [(640, 480), (1920, 1080)]
CYCLES, BLOCK = (4, 3) if QUICK else (40, 6)  # blocks per way, frames per block
BUILD = Path(__file__).resolve().parents[1] / "build"
BASE = "image.frombuffer + blit"
ORIGIN = (0, 0)
FROMBUFFER: Callable[..., pygame.Surface] = pygame.image.frombuffer  # takes numpy arrays too


class Frame(NamedTuple):
    """One size's inputs: the frame, its centre region and where that lies
    (a quarter of the frame in, half as wide and high), a grey frame, the frame
    already converted to the display's bytes, and the texture path's renderer."""

    screen: pygame.Surface
    size: tuple[int, int]
    frame: np.ndarray
    region: np.ndarray
    at: tuple[int, int]
    grey: np.ndarray
    converted: np.ndarray
    renderer: Any
    texture: Any
    incoming: tuple[np.ndarray, np.ndarray]  # what arrives each frame: the frame's and the grey frame's pixels


Step = Callable[[Frame, Any], object]  # one frame's work; the view when the way holds one


def rgb_columns(a: np.ndarray) -> Any:
    """What surfarray wants of a BGR array: (width, height, 3), red first (a view)."""
    return a[:, :, ::-1].swapaxes(0, 1)


def into_view(code: int, source: str, per_frame: bool) -> Step:
    """cv2.cvtColor of the frame's `source` into the display's own pixels, at
    the source's place, through a view held for the block or made each frame."""

    def convert(f: Frame, view: np.ndarray) -> None:
        array = getattr(f, source)
        x, y = f.at if source == "region" else ORIGIN
        cv2.cvtColor(array, code, dst=view[y : y + array.shape[0], x : x + array.shape[1]])

    def each_frame(f: Frame, _: None) -> None:
        with Quorvel.pixels(f.screen) as px:
            convert(f, np.asarray(px))

    return each_frame if per_frame else convert


def region_surface(f: Frame, contiguous: bool) -> pygame.Surface:
    if contiguous:
        return FROMBUFFER(np.ascontiguousarray(f.region), f.region.shape[1::-1], "BGR")
    return Quorvel.frombuffer(f.region, format="BGR")


def grey_p(f: Frame) -> pygame.Surface:
    surface = FROMBUFFER(f.grey, f.size, "P")
    surface.set_palette(GREY_RAMP)
    return surface


def texture(make: Callable[[Frame], pygame.Surface], update: bool) -> Step:
    def step(f: Frame, _: None) -> None:
        if update:
            f.texture.update(make(f))
            f.texture.draw()
        else:
            video.Texture.from_surface(f.renderer, make(f)).draw()

    return step


def quorvel_whole(f: Frame) -> pygame.Surface:
    return Quorvel.frombuffer(f.frame, format="BGR")


def made_whole(f: Frame, source: str = "frame") -> pygame.Surface:
    return pygame.surfarray.make_surface(rgb_columns(getattr(f, source)))


def blit(make: Callable[[Frame], pygame.Surface]) -> Step:
    """Blits the Surface `make` gives: a whole frame's at the corner, a region's at its place."""
    return lambda f, _: f.screen.blit(s := make(f), ORIGIN if s.get_size() == f.size else f.at)


def grey_stacked(f: Frame) -> pygame.Surface:
    return pygame.surfarray.make_surface(np.dstack([f.grey] * 3).swapaxes(0, 1))


# way: case (what the screen must show after it), whether pygame alone does
# it (candidates for "the best pygame way"), whether it holds a view of the
# display for its block, the frame's work.
WAYS: dict[str, tuple[str, bool, bool, Step]] = {
    "Quorvel.frombuffer + blit": ("whole", False, False, blit(quorvel_whole)),
    BASE: ("whole", True, False, blit(lambda f: FROMBUFFER(f.frame, f.size, "BGR"))),
    "frombuffer(tobytes) + blit": ("whole", True, False, blit(lambda f: FROMBUFFER(f.frame.tobytes(), f.size, "BGR"))),
    "make_surface + blit": ("whole", True, False, blit(made_whole)),
    "blit_array": ("whole", True, False, lambda f, _: pygame.surfarray.blit_array(f.screen, rgb_columns(f.frame))),
    "cvtColor BGR2BGRA into view": ("whole", False, True, into_view(cv2.COLOR_BGR2BGRA, "frame", False)),
    "cvtColor BGR2BGRA, view per frame": ("whole", False, False, into_view(cv2.COLOR_BGR2BGRA, "frame", True)),
    "floor: copyto view": ("whole", False, True, lambda f, view: np.copyto(view, f.converted)),
    "region: Quorvel + blit": ("region", False, False, blit(lambda f: region_surface(f, False))),
    "region: ascontiguousarray + frombuffer + blit": ("region", True, False, blit(lambda f: region_surface(f, True))),
    "region: make_surface + blit": ("region", True, False, blit(lambda f: made_whole(f, "region"))),
    "region: cvtColor into view": ("region", False, True, into_view(cv2.COLOR_BGR2BGRA, "region", False)),
    "region: cvtColor, view per frame": ("region", False, False, into_view(cv2.COLOR_BGR2BGRA, "region", True)),
    'grey: Quorvel "L" + blit': ("grey", False, False, blit(lambda f: Quorvel.frombuffer(f.grey, format="L"))),
    'grey: "P" + set_palette + blit': ("grey", True, False, blit(grey_p)),
    "grey: make_surface(dstack) + blit": ("grey", True, False, blit(grey_stacked)),
    "grey: cvtColor GRAY2BGRA into view": ("grey", False, True, into_view(cv2.COLOR_GRAY2BGRA, "grey", False)),
    "grey: cvtColor, view per frame": ("grey", False, False, into_view(cv2.COLOR_GRAY2BGRA, "grey", True)),
}
if video is not None:
    WAYS.update(
        {
            "Texture.from_surface(Quorvel)": ("texture", False, False, texture(quorvel_whole, False)),
            "Texture.from_surface(make_surface)": ("texture", True, False, texture(made_whole, False)),
            "Texture.update(Quorvel)": ("texture", False, False, texture(quorvel_whole, True)),
            "Texture.update(make_surface)": ("texture", True, False, texture(made_whole, True)),
        }
    )
MADE: dict[tuple[int, bool], pygame.Surface] = {}


def made_once(f: Frame, contiguous: bool) -> pygame.Surface:
    """The region's Surface (or its copy's) of this frame, made on first use and kept."""
    key = (id(f.frame), contiguous)  # each size's frame lives as long as the process
    if key not in MADE:
        MADE[key] = region_surface(f, contiguous)
    return MADE[key]


if PROBE:  # the blit alone, from Surfaces made once: a region's rows apart, and its copy's packed
    WAYS["probe: blit of the region's Surface"] = ("region", False, False, blit(lambda f: made_once(f, False)))
    WAYS["probe: blit of the region's copy"] = ("region", False, False, blit(lambda f: made_once(f, True)))


@contextlib.contextmanager
def held(f: Frame, way: str) -> Iterator[Any]:
    """The display's pixels as an array for a block of a way that holds one."""
    if not WAYS[way][2]:
        yield None
        return
    with Quorvel.pixels(f.screen) as px:
        yield np.asarray(px)


def block(f: Frame, way: str, frames: int) -> list[float]:
    """Seconds per frame of `frames` frames of `way`, each shown. Before each,
    untimed, the frame's pixels are written anew, as a decoder writes a new frame."""
    show = f.renderer.present if WAYS[way][0] == "texture" else pygame.display.flip
    step, times = WAYS[way][3], []
    with held(f, way) as view:
        for _ in range(frames):
            np.copyto(f.frame, f.incoming[0])
            np.copyto(f.grey, f.incoming[1])
            start = time.perf_counter()
            step(f, view)
            show()
            times.append(time.perf_counter() - start)
    return times


def shown_right(f: Frame, way: str) -> bool:
    """Whether one frame of `way` over a black display shows what it should, so
    that no way is timed doing less than the others."""
    case = WAYS[way][0]
    f.screen.fill(0)
    if case == "texture":
        f.renderer.draw_color = (0, 0, 0, 255)
        f.renderer.clear()
    block(f, way, 1)
    got = f.renderer.to_surface() if case == "texture" else f.screen
    with Quorvel.pixels(got) as px:
        rgb = np.asarray(px)[:, :, 2::-1] if px.format.startswith("BGR") else np.asarray(px)[:, :, :3]
        x, y = f.at
        h, w = f.region.shape[:2]
        return bool(
            np.array_equal(rgb[y : y + h, x : x + w], f.region[:, :, ::-1])
            if case == "region"
            else np.array_equal(rgb, np.dstack([f.grey] * 3) if case == "grey" else f.frame[:, :, ::-1])
        )


def frame_for(size: tuple[int, int]) -> Frame:
    w, h = size
    screen = pygame.display.set_mode(size)
    noise = np.random.default_rng(26)
    frame, grey = noise.integers(0, 256, (h, w, 3), np.uint8), noise.integers(0, 256, (h, w), np.uint8)
    renderer = texture_ = None
    if video is not None:
        renderer = video.Renderer(video.Window("texture path", size=size))
        texture_ = video.Texture(renderer, size)
    return Frame(
        screen,
        size,
        frame,
        frame[h // 4 : h // 4 + h // 2, w // 4 : w // 4 + w // 2],
        (w // 4, h // 4),
        grey,
        cv2.cvtColor(frame, cv2.COLOR_BGR2BGRA),
        renderer,
        texture_,
        (frame.copy(), grey.copy()),
    )


def run(size: tuple[int, int]) -> dict[str, Any]:
    """Every way at one size: medians in µs, ratios to BASE, and the targets."""
    f = frame_for(size)
    if wrong := [way for way in WAYS if not shown_right(f, way)]:
        sys.exit(f"{size}: the display does not show the frame after {wrong}")
    ways, frames = list(WAYS), {way: list[float]() for way in WAYS}
    cycles: list[dict[str, float]] = []
    for c in range(CYCLES):
        cycle = {}
        for way in ways if c % 2 == 0 else ways[::-1]:
            times = block(f, way, BLOCK)
            frames[way] += times
            cycle[way] = statistics.median(times)
        cycles.append(cycle)

    def ratio(a: str, b: str) -> float:
        return statistics.median(c[a] / c[b] for c in cycles)

    median = {way: statistics.median(t) for way, t in frames.items()}
    best = {  # the best way pygame alone has, per case
        case: min((w for w, row in WAYS.items() if row[:2] == (case, True)), key=median.__getitem__)
        for case in ("whole", "region", "grey")
    }
    targets = [
        ("whole: Quorvel.frombuffer / image.frombuffer", "Quorvel.frombuffer + blit", BASE, 1.03),
        ('grey: Quorvel "L" / "P" + set_palette', 'grey: Quorvel "L" + blit', 'grey: "P" + set_palette + blit', 1.00),
        (
            "region: Quorvel / ascontiguousarray",
            "region: Quorvel + blit",
            "region: ascontiguousarray + frombuffer + blit",
            1.00,
        ),
    ]
    for way, (case, _, view, _) in WAYS.items():
        if way.startswith(("cvtColor", "region: cvtColor", "grey: cvtColor")):
            targets += [
                (f"{way} / best pygame way ({best[case]})", way, best[case], 0.55),
                (f"{way} / floor", way, "floor: copyto view", 1.5),
            ]
    return {
        "size": f"{size[0]}x{size[1]}",
        "frames": {way: len(t) for way, t in frames.items()},
        "median_us": {way: m * 1e6 for way, m in median.items()},
        "ratio": {way: ratio(way, BASE) for way in WAYS},
        "targets": [
            {"what": what, "ratio": (r := ratio(a, b)), "limit": limit, "met": r <= limit}
            for what, a, b, limit in targets
        ],
    }


def chart(out: Path) -> None:
    """Grouped bars of the per-frame medians of every JSON in build/: a way
    per group, a bar per pygame and size, log scale."""
    import matplotlib

    matplotlib.use("Agg")
    from matplotlib import pyplot, ticker

    runs = sorted((json.loads(p.read_text()) for p in BUILD.glob("bench-frames-*.json")), key=lambda r: r["pygame"])
    bars = [(run["pygame"], size) for run in runs if QUICK == ("quick" in run) for size in run["sizes"]]
    ways = list(dict.fromkeys(way for _, size in bars for way in size["median_us"]))
    figure, axes = pyplot.subplots(figsize=(11, 0.45 * len(ways) + 1.5))
    height = 0.8 / max(len(bars), 1)
    for i, (name, size) in enumerate(bars):
        axes.barh(
            [k + i * height for k in range(len(ways))],
            [size["median_us"].get(way, 0) / 1e3 for way in ways],
            height,
            label=f"{name}, {size['size']}",
            color=pyplot.get_cmap("tab20")(i // 2 * 2 + 1 - i % 2),  # a pair of shades per pygame
        )
    axes.set_yticks([k + 0.4 - height / 2 for k in range(len(ways))], ways)
    axes.invert_yaxis()
    axes.set_xscale("log")
    axes.set_xlabel("ms per frame, median (BGR frame in memory to the display, flip included; log scale)")
    axes.xaxis.set_major_formatter(ticker.FuncFormatter(lambda x, _: f"{x:g}"))
    axes.grid(axis="x", which="both", alpha=0.3)
    axes.legend(loc="lower center", bbox_to_anchor=(0.5, 1), ncol=2)
    figure.tight_layout()
    figure.savefig(out, dpi=80)
    print(f"chart: {out}")


def main() -> None:
    cv2.setNumThreads(1)
    pygame.display.init()
    ce = getattr(pygame, "IS_CE", False)
    name = f"{'pygame-ce' if ce else 'pygame'} {pygame.version.ver}, SDL {'.'.join(map(str, pygame.get_sdl_version()))}"
    sizes = [run(size) for size in SIZES]
    load = os.getloadavg()
    print(
        f"\n# Frames end to end{' (quick)' if QUICK else ''}\n\n{name}; CPython {sys.version.split()[0]}; "
        f"numpy {np.__version__}; cv2 {cv2.__version__}; Quorvel from {Path(Quorvel.__file__).parent}, "
        f"{'with' if getattr(Quorvel, '_speedups', None) else 'WITHOUT'} _speedups; "
        f"{CYCLES} cycles of {BLOCK} frames a way; "
        f"load average {load[0]:.2f} {load[1]:.2f} {load[2]:.2f} at the end\n\n"
        "| way | " + " | ".join(f"{s['size']} | ratio" for s in sizes) + " |\n|---|" + "---:|---:|" * len(sizes)
    )
    for way in WAYS:
        print(f"| {way} | " + " | ".join(f"{s['median_us'][way]:.0f} µs | {s['ratio'][way]:.2f}" for s in sizes) + " |")
    print("\n## Targets (reported, not enforced)\n")
    for s in sizes:
        for t in s["targets"]:
            print(
                f"- {s['size']} {t['what']}: {t['ratio']:.2f} (at most {t['limit']}): {'met' if t['met'] else 'MISSED'}"
            )
    BUILD.mkdir(exist_ok=True)
    out = BUILD / f"bench-frames-{'pygame-ce' if ce else 'pygame'}{'-quick' if QUICK else ''}.json"
    result = {"pygame": name, "python": sys.version.split()[0], "load": load, "sizes": sizes}
    out.write_text(json.dumps(result | ({"quick": True} if QUICK else {}), indent=1) + "\n")
    print(f"\ntable: {out}")
    chart(BUILD / "benchmark-quick.png" if QUICK else Path(__file__).resolve().parents[1] / "docs" / "benchmark.png")


if __name__ == "__main__":
    main()
