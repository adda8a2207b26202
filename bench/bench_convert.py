#!/usr/bin/env python3
"""Times RImage_asSDLSurface against pygame's own ways of making a Surface, with
pyperf (the method in full: docs/benchmark.md). The zero-copy ways (WAYS: text,
`this`, frombuffer, and Quorvel.frombuffer over a whole numpy array and over a
region of a larger one) at every format and size are one benchmark timed slot after
slot, cycle after cycle, so a ratio is the median of within-cycle ratios and a
change of load cancels; each copying way is a benchmark per cell. Times are CPU
time of the process; targets are reported only.

    python bench/bench_convert.py [--quick] [--sizes WxH,...] [--cycles N] [pyperf options]
"""

import functools
import itertools
import os
import statistics
import sys
import time
import timeit
from typing import Any, Callable

ENV = {"SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "dummy", "PYGAME_HIDE_SUPPORT_PROMPT": "1"}
os.environ.update((name, value) for name, value in ENV.items() if name not in os.environ)

import numpy  # the benchmark's own dependency, not the module's
import pygame
import pyperf

import Quorvel
import Quorvelc
from formats import FORMATS, GREY_RAMP, Wrapper, record

QUICK = "--quick" in sys.argv
SIZES, QUICK_SIZES = "1x1,64x64,640x480,1920x1080,4096x4096", "64x64,4096x4096"
WAYS = {
    "Quorvelc text": "conv(text)",
    "Quorvelc this": "conv(wrapper)",
    "frombuffer": "frombuffer(view, size, fmt)",
    "Quorvel": "quorvel(whole, None, qfmt)",
    "Quorvel region": "quorvel(region, None, qfmt)",
    "frombuffer+pal": "frombuffer(view, size, fmt).set_palette(ramp)",
    "frombytes": "frombytes(data, size, fmt)",
    "make_surface": "make_surface(array)",
    "contiguous+frombuffer": "frombuffer(ascontiguousarray(region), size, fmt)",
}
LABELS, CYCLED = list(WAYS), 5  # the first CYCLED ways copy nothing
MARGIN = 8  # pixels around a region in its frame
# name, first way, second way: the ratios of the table, for the rows that have both
RATIOS = [
    ("text / frombuffer", "Quorvelc text", "frombuffer"),
    ("this / frombuffer", "Quorvelc this", "frombuffer"),
    ("Quorvel / frombuffer", "Quorvel", "frombuffer"),
    ("contiguous+frombuffer / Quorvel region", "contiguous+frombuffer", "Quorvel region"),
    ("frombuffer+pal / Quorvel", "frombuffer+pal", "Quorvel"),
]
# Called with formats this pygame may lack: takes() asks it which it has.
FROMBYTES: Callable[..., pygame.Surface] = getattr(pygame.image, "frombytes", None) or pygame.image.fromstring
TARGET_RATIO = {"Quorvelc text": (0.60, 0.55), "Quorvelc this": (0.66, 0.62)}  # grey, colour
TARGET_GREY, TARGET_SCALING = 1.10, 1.05
Size = tuple[int, int]
Key = tuple[str, Size, str]  # format, size, way


@functools.cache
def cell(name: str, size: Size) -> tuple[Any, memoryview, str, numpy.ndarray, Any, Any, str]:
    """A record, a byte view of its pixels, their pygame format, a (w, h, channels)
    array over them, a (h, w[, channels]) array over them and a region of that
    size in a larger frame. Exits unless Quorvelc's and Quorvel's Surfaces are
    alike frombuffer's, lest an early way out be timed."""
    rec = record(name, size)
    view, fmt = memoryview(rec.memory).cast("B"), FORMATS[name][2]
    ref = pygame.image.frombuffer(view, size, fmt)
    whole = numpy.frombuffer(view, numpy.uint8).reshape(size[1], size[0], -1)
    frame = numpy.zeros((size[1] + 2 * MARGIN, size[0] + 2 * MARGIN, whole.shape[2]), numpy.uint8)
    region = frame[MARGIN:-MARGIN, MARGIN:-MARGIN]
    if name == "grey":  # grey as vision libraries hold it: 2-D
        whole, region = whole[:, :, 0], region[:, :, 0]
    qfmt = "L" if name == "grey" else name
    for argument in (rec.text, Wrapper(rec.text), whole, region):
        got = (
            Quorvelc.RImage_asSDLSurface(argument)
            if argument is not whole and argument is not region
            else Quorvel.frombuffer(argument, None, qfmt)
        )
        if (
            got is None
            or (got.get_size(), got.get_bitsize(), got.get_masks()) != (size, ref.get_bitsize(), ref.get_masks())
            or name == "grey"
            and tuple(got.get_palette_at(200))[:3] != (200, 200, 200)
        ):
            sys.exit(f"RImage_asSDLSurface gave {got!r} for {name} {size}, frombuffer {ref!r}")
    pixels = numpy.frombuffer(view, numpy.uint8).reshape(size[1], size[0], -1).transpose(1, 0, 2)
    return rec, view, fmt, pixels, whole, region, qfmt


@functools.cache
def timer(name: str, size: Size, label: str) -> timeit.Timer:
    """A timeit.Timer of one way on one cell (a copy for frombytes is made here, untimed)."""
    rec, view, fmt, pixels, whole, region, qfmt = cell(name, size)
    return timeit.Timer(
        WAYS[label],
        timer=time.process_time,
        globals=dict(
            conv=Quorvelc.RImage_asSDLSurface,
            text=rec.text,
            wrapper=Wrapper(rec.text),
            frombuffer=pygame.image.frombuffer,
            view=view,
            size=size,
            fmt=fmt,
            ramp=GREY_RAMP,
            quorvel=Quorvel.frombuffer,
            whole=whole,
            region=region,
            qfmt=qfmt,
            ascontiguousarray=numpy.ascontiguousarray,
            frombytes=FROMBYTES,
            data=bytes(view) if label == "frombytes" else None,
            make_surface=pygame.surfarray.make_surface,  # (w, h[, 3]) red first, no alpha
            array={"grey": pixels[:, :, 0], "RGB": pixels}.get(name, pixels[:, :, 2::-1]),
        ),
    )


def takes(name: str, label: str) -> bool:
    """Whether this pygame has the call for the format (pygame 2.6's frombytes has no "BGR")."""
    if label == "frombytes":
        try:
            FROMBYTES(bytes(FORMATS[name][0]), (1, 1), FORMATS[name][2])
        except ValueError:
            return False
    return label != "frombuffer+pal" or name == "grey"


def main() -> None:
    runner = pyperf.Runner(
        processes=1 if QUICK else 6,
        values=1 if QUICK else 3,
        min_time=0.002 if QUICK else 0.01,
        add_cmdline_args=lambda cmd, a: cmd.extend(["--sizes", a.sizes, "--cycles", str(a.cycles)]),
    )
    runner.argparser.add_argument("--quick", action="store_true", help="for CI: rough figures")
    runner.argparser.add_argument("--sizes", help=f"WxH,... (default {SIZES}; quick {QUICK_SIZES})")
    runner.argparser.add_argument("--cycles", type=int, help="cycles per worker (10; quick 3)")
    runner.argparser.set_defaults(inherit_environ=list(ENV), quiet=True)
    args = runner.parse_args()
    args.sizes = args.sizes or (QUICK_SIZES if QUICK else SIZES)
    args.cycles = args.cycles or (3 if QUICK else 10)
    sizes = [(int(w), int(h)) for w, h in (s.split("x") for s in args.sizes.split(","))]
    slots = [(name, size, label) for name in FORMATS for size in sizes for label in LABELS[:CYCLED]]

    def slot(i: int) -> Key:  # the slot that call i of a worker times
        k = i % len(slots)
        return slots[-1 - k if i // len(slots) % 2 else k]

    # The master hands the workers these values and warmups: a whole cycle each.
    calls, saved = itertools.count(), (args.values, args.warmups)
    args.values, args.warmups = len(slots) * args.cycles, len(slots)
    cycled = runner.bench_time_func(
        "zero-copy ways in turn (mixed: see the table)", lambda loops: timer(*slot(next(calls))).timeit(loops)
    )
    args.values, args.warmups = saved
    alone = {
        (name, size, label): runner.bench_time_func(
            f"{name} {size[0]}x{size[1]} {label}", lambda loops, key=(name, size, label): timer(*key).timeit(loops)
        )
        for name in FORMATS
        for size in sizes
        for label in LABELS[CYCLED:]
        if takes(name, label)
    }
    if not args.worker:
        cycles: dict[tuple[int, int], dict[Key, float]] = {}
        for r, run in enumerate(cycled.get_runs()):
            for i, value in enumerate(run.values, len(run.warmups)):
                cycles.setdefault((r, i // len(slots)), {})[slot(i)] = value
        report(cycled, list(cycles.values()), alone, sizes)


def report(cycled: Any, cycles: list[dict[Key, float]], alone: dict[Key, Any], sizes: list[Size]) -> None:
    samples = {key: bench.get_values() for key, bench in alone.items()}
    samples.update({key: [c[key] for c in cycles if key in c] for c in cycles for key in c})

    def ratio(a: Key, b: Key) -> float:
        within = [c[a] / c[b] for c in cycles if a in c and b in c]
        return statistics.median(within) if within else (statistics.median(samples[a]) / statistics.median(samples[b]))

    def shown(key: Key) -> str:
        values = samples.get(key)
        if not values:
            return "-"
        median = statistics.median(values)
        us = median * 1e6
        text = f"{us:.3f} µs" if us < 10 else f"{us:.1f} µs" if us < 1e3 else f"{us / 1e3:.2f} ms"
        return text + (f" ±{statistics.stdev(values) / median:.0%}" if len(values) > 1 else "")

    meta, sdl = cycled.get_metadata(), ".".join(map(str, pygame.get_sdl_version()))
    print(
        f"\n# RImage_asSDLSurface benchmark{' (quick)' if QUICK else ''}\n\n"
        f"{meta.get('cpu_model_name')}, {meta.get('cpu_count')} logical CPUs; "
        f"{meta.get('platform')}; {meta.get('python_version')}; "
        f"{'pygame-ce' if getattr(pygame, 'IS_CE', 0) else 'pygame'} {pygame.version.ver}, "
        f"SDL {sdl}; numpy {numpy.__version__}; pyperf {pyperf.__version__}  \n"
        f"Quorvelc from {Quorvelc.__file__}; {len(cycles)} cycles in "
        f"{sum(1 for run in cycled.get_runs() if run.values)} workers\n"
    )
    print(
        "| format | size | " + " | ".join(LABELS + [r[0] for r in RATIOS]) + " |\n"
        "|---|---|" + "---:|" * (len(LABELS) + len(RATIOS))
    )
    for name in FORMATS:
        for s in sizes:
            print(
                f"| {name} | {s[0]}x{s[1]} | "
                + " | ".join(shown((name, s, w)) for w in LABELS)
                + "".join(
                    f" | {ratio((name, s, a), (name, s, b)):.2f}"
                    if (name, s, a) in samples and (name, s, b) in samples
                    else " | -"
                    for _, a, b in RATIOS
                )
                + " |"
            )

    small, large = (64, 64) if (64, 64) in sizes else sizes[0], sizes[-1]
    print(
        f"\nTime at {large[0]}x{large[1]} / time at {small[0]}x{small[1]}:\n\n| format | "
        + " | ".join(LABELS)
        + " |\n|---|"
        + "---:|" * len(LABELS)
    )
    for name in FORMATS:
        print(
            f"| {name} | "
            + " | ".join(
                f"{ratio((name, large, label), (name, small, label)):.2f}" if (name, small, label) in samples else "-"
                for label in LABELS
            )
            + " |"
        )
    print()
    for label in LABELS[:CYCLED]:
        print(
            f"Grey / RGB, {label}: "
            + ", ".join(f"{s[0]}x{s[1]} {ratio(('grey', s, label), ('RGB', s, label)):.2f}" for s in sizes)
        )

    print("\n## Targets (reported, not enforced)\n")

    def verdict(
        what: str, pairs: list[tuple[Key, Key, str]], limit: float, within: bool = False, least: bool = False
    ) -> None:  # pairs: (a, b, where)
        def far(r: float) -> float:  # how far from the target's side; both sides when within
            return max(r, 1 / r) if within else -r if least else r

        pairs = [p for p in pairs if p[0] in samples and p[1] in samples]
        if not pairs:
            print(f"- {what}: not measured in this run")
            return
        r, where = max(((ratio(a, b), where) for a, b, where in pairs), key=lambda p: far(p[0]))
        sense, met = ("within", far(r) <= limit) if within else (">=", r >= limit) if least else ("<=", r <= limit)
        print(f"- {what}, worst ({where}): {r:.2f} (target {sense} {limit}): {'met' if met else 'NOT met'}")

    for label, (grey, colour) in TARGET_RATIO.items():
        for kind, names, limit in (("grey", ["grey"], grey), ("colour", list(FORMATS)[1:], colour)):
            verdict(
                f"{label} / frombuffer, {kind}",
                [((n, s, label), (n, s, "frombuffer"), f"{n} {s[0]}x{s[1]}") for n in names for s in sizes],
                limit,
            )
        verdict(
            f"{label}, grey / RGB",
            [(("grey", s, label), ("RGB", s, label), f"{s[0]}x{s[1]}") for s in sizes],
            TARGET_GREY,
        )
        verdict(
            f"{label}, {large[0]}x{large[1]} / {small[0]}x{small[1]}",
            [((n, large, label), (n, small, label), n) for n in FORMATS],
            TARGET_SCALING,
            True,
        )
    q, colours = "Quorvel", list(FORMATS)[1:]
    for label in (q, q + " region"):
        verdict(
            f"{label}, {large[0]}x{large[1]} / {small[0]}x{small[1]}",
            [((n, large, label), (n, small, label), n) for n in FORMATS],
            1.10,
        )
    for (s, least), (kind, names) in itertools.product(
        [((640, 480), 8), ((1920, 1080), 50)], [("colour", colours), ("grey", ["grey"])]
    ):  # a grey copy moves a third of the bytes
        verdict(
            f"contiguous+frombuffer / Quorvel region, {kind}, {s[0]}x{s[1]}",
            [((n, s, "contiguous+frombuffer"), (n, s, q + " region"), n) for n in names],
            least,
            least=True,
        )
    verdict(
        "frombuffer+pal / Quorvel, grey",
        [(("grey", s, "frombuffer+pal"), ("grey", s, q), f"{s[0]}x{s[1]}") for s in sizes],
        3,
        least=True,
    )
    verdict(
        "Quorvel / frombuffer, whole colour array",
        [((n, s, q), (n, s, "frombuffer"), f"{n} {s[0]}x{s[1]}") for n in colours for s in sizes],
        8,
    )
    print('\nThe ways, and "-" (no such call in this pygame): docs/benchmark.md.')


if __name__ == "__main__":
    main()
