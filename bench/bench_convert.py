#!/usr/bin/env python3
"""Times RImage_asSDLSurface against pygame's own ways of making a Surface, with pyperf.

  Quorvelc text    RImage_asSDLSurface(pointer text)
  Quorvelc this    RImage_asSDLSurface(object whose `this` holds the text)
  frombuffer       pygame.image.frombuffer over the same pixels: copies nothing
  frombuffer+pal   grey only: frombuffer "P", then set_palette(grey ramp)
  frombytes        pygame.image.frombytes (fromstring on old pygame): copies
  make_surface     pygame.surfarray.make_surface over a numpy view: copies

The first three ways, at every size and format, are one pyperf benchmark:
each worker warms every (format, size, way) slot once, then each of its values
times the next slot, cycle after cycle (every other cycle reversed). A ratio
of two of them (text / frombuffer, largest size / 64x64, grey / RGB) is the
median, over the cycles of all workers, of the ratio within a cycle, so a
change of load between cycles cancels. Every other way and cell is a pyperf
benchmark of its own; a ratio with one of them is a ratio of medians. A time
is the median of pyperf's values, ± their standard deviation. Every Surface is
dropped before the next call. Targets are reported, never asserted.

    python bench/bench_convert.py [--quick] [--sizes WxH,...] [--cycles N] [pyperf options]
"""

import functools
import itertools
import os
import statistics
import sys
import timeit

ENV = {"SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "dummy", "PYGAME_HIDE_SUPPORT_PROMPT": "1"}
for _name, _value in ENV.items():
    os.environ.setdefault(_name, _value)

import numpy  # noqa: E402  (the benchmark's own dependency, not the module's)
import pygame  # noqa: E402
import pyperf  # noqa: E402

import Quorvelc  # noqa: E402
from formats import FORMATS, GREY_RAMP, Wrapper, record  # noqa: E402

QUICK = "--quick" in sys.argv
ZERO_COPY = ["Quorvelc text", "Quorvelc this", "frombuffer"]
LABELS = ZERO_COPY + ["frombuffer+pal", "frombytes", "make_surface"]
STATEMENTS = dict(zip(LABELS, ["conv(text)", "conv(wrapper)", "frombuffer(view, size, fmt)",
                               "frombuffer(view, size, fmt).set_palette(ramp)",
                               "frombytes(data, size, fmt)", "make_surface(array)"]))
FROMBYTES = getattr(pygame.image, "frombytes", None) or pygame.image.fromstring
# Quorvelc / frombuffer at most, per way, for grey and for the colour formats
TARGET_RATIO = {"Quorvelc text": (0.60, 0.55), "Quorvelc this": (0.66, 0.62)}
TARGET_GREY = 1.10    # Quorvelc, grey / RGB at most
TARGET_SCALING = 1.05  # Quorvelc, largest size / 64x64 within this factor of 1


@functools.cache
def cell(name, size):
    """A record and its pixels; exits unless Quorvelc's Surfaces of it are real and alike
    frombuffer's in size and format, or the figures would time an early way out."""
    rec = record(name, *size)
    view, fmt = memoryview(rec.memory).cast("B"), FORMATS[name][2]
    ref = pygame.image.frombuffer(view, size, fmt)
    for argument in (rec.text, Wrapper(rec.text)):
        got = Quorvelc.RImage_asSDLSurface(argument)
        if (got is None or (got.get_size(), got.get_bitsize(), got.get_masks())
                != (size, ref.get_bitsize(), ref.get_masks())
                or name == "grey" and got.get_palette_at(200)[:3] != (200, 200, 200)):
            sys.exit(f"RImage_asSDLSurface gave {got!r} for a {size} {name} record, "
                     f"frombuffer {ref!r}")
    return rec, view, fmt


@functools.cache
def timer(name, size, label):
    """A timeit.Timer of one way on one cell; copies are made here, before any timing."""
    rec, view, fmt = cell(name, size)
    ns = dict(conv=Quorvelc.RImage_asSDLSurface, text=rec.text, wrapper=Wrapper(rec.text),
              frombuffer=pygame.image.frombuffer, view=view, size=size, fmt=fmt,
              ramp=GREY_RAMP, frombytes=FROMBYTES, make_surface=pygame.surfarray.make_surface)
    if label == "frombytes":
        ns["data"] = bytes(view)
    if label == "make_surface":   # (w, h[, 3]), red first; BGRA's alpha dropped
        pixels = numpy.frombuffer(view, numpy.uint8).reshape(size[1], size[0], -1).transpose(1, 0, 2)
        ns["array"] = pixels[:, :, 0] if name == "grey" else pixels[:, :, 2::-1] if name[0] == "B" else pixels
    return timeit.Timer(STATEMENTS[label], globals=ns)


def frombytes_takes(fmt, channels):
    """Whether this pygame's frombytes knows the format (pygame 2.6 has no "BGR")."""
    try:
        FROMBYTES(bytes(channels), (1, 1), fmt)
    except ValueError:
        return False
    return True


def main():
    runner = pyperf.Runner(processes=1 if QUICK else 6, values=1 if QUICK else 3,
                           min_time=0.002 if QUICK else 0.01,
                           add_cmdline_args=lambda cmd, a: cmd.extend(
                               ["--sizes", a.sizes, "--cycles", str(a.cycles)]))
    runner.argparser.add_argument("--quick", action="store_true",
                                  help="CI: one short cycle, 64x64 and 4096x4096: rough figures")
    runner.argparser.add_argument("--sizes", help="WxH list (default 1x1,64x64,640x480,"
                                  "1920x1080,4096x4096; quick 64x64,4096x4096)")
    runner.argparser.add_argument("--cycles", type=int, help="cycles per worker (10; quick 1)")
    runner.argparser.set_defaults(inherit_environ=list(ENV), quiet=True)
    args = runner.parse_args()
    args.sizes = args.sizes or ("64x64,4096x4096" if QUICK else "1x1,64x64,640x480,1920x1080,4096x4096")
    args.cycles = args.cycles or (1 if QUICK else 10)
    sizes = [tuple(int(n) for n in s.split("x")) for s in args.sizes.split(",")]

    slots = [(name, size, label) for name in FORMATS for size in sizes for label in ZERO_COPY]

    def slot(i):   # the slot that call i of a worker times
        k = i % len(slots)
        return slots[-1 - k if i // len(slots) % 2 else k]

    calls = itertools.count()
    saved = args.values, args.warmups
    args.values, args.warmups = len(slots) * args.cycles, len(slots)
    cycled = runner.bench_time_func("zero-copy ways in turn (mixed: see the table)",
                                    lambda loops: timer(*slot(next(calls))).timeit(loops))
    args.values, args.warmups = saved
    alone = {}
    for name, (channels, _, fmt) in FORMATS.items():
        for size in sizes:
            for label in LABELS[3:]:
                if (label == "frombuffer+pal" and name != "grey"
                        or label == "frombytes" and not frombytes_takes(fmt, channels)):
                    continue
                key = (name, size, label)
                alone[key] = runner.bench_time_func(f"{name} {size[0]}x{size[1]} {label}",
                                                    lambda loops, key=key: timer(*key).timeit(loops))
    if not args.worker:
        cycles = {}
        for r, run in enumerate(cycled.get_runs()):
            for j, value in enumerate(run.values):
                i = len(run.warmups) + j
                cycles.setdefault((r, i // len(slots)), {})[slot(i)] = value
        report(cycled, list(cycles.values()), alone, sizes)


def report(cycled, cycles, alone, sizes):
    samples = {key: bench.get_values() for key, bench in alone.items()}
    samples.update({key: [c[key] for c in cycles if key in c] for c in cycles for key in c})

    def ratio(a, b):
        within = [c[a] / c[b] for c in cycles if a in c and b in c]
        return statistics.median(within) if within else (
            statistics.median(samples[a]) / statistics.median(samples[b]))

    def time(key):
        if key not in samples:
            return "-"
        values = samples[key]
        median, us = statistics.median(values), statistics.median(values) * 1e6
        text = f"{us:.3f} µs" if us < 10 else f"{us:.1f} µs" if us < 1000 else f"{us / 1000:.2f} ms"
        return text + (f" ±{statistics.stdev(values) / median:.0%}" if len(values) > 1 else "")

    meta = cycled.get_metadata()
    print(f"\n# RImage_asSDLSurface benchmark{' (quick)' if QUICK else ''}\n\n"
          f"{meta.get('cpu_model_name', '?')}, {meta.get('cpu_count', '?')} logical CPUs; "
          f"{meta.get('platform', '?')}; {meta.get('python_implementation', 'Python')} "
          f"{meta.get('python_version', '?')}; {'pygame-ce' if getattr(pygame, 'IS_CE', 0) else 'pygame'} "
          f"{pygame.version.ver}, SDL {'.'.join(map(str, pygame.get_sdl_version()))}; "
          f"numpy {numpy.__version__}; pyperf {pyperf.__version__}  \n"
          f"Quorvelc from {Quorvelc.__file__}; {len(cycles)} cycles in "
          f"{sum(1 for run in cycled.get_runs() if run.values)} workers\n")
    print("| format | size | " + " | ".join(LABELS) + " | text / frombuffer | this / frombuffer |")
    print("|---|---|" + "---:|" * (len(LABELS) + 2))
    for name in FORMATS:
        for size in sizes:
            fb = (name, size, "frombuffer")
            print(f"| {name} | {size[0]}x{size[1]} | " + " | ".join(
                time((name, size, label)) for label in LABELS) + " | " + " | ".join(
                f"{ratio((name, size, label), fb):.2f}" for label in ZERO_COPY[:2]) + " |")

    small = (64, 64) if (64, 64) in sizes else sizes[0]
    large = sizes[-1]
    print(f"\nTime at {large[0]}x{large[1]} / time at {small[0]}x{small[1]}:\n")
    print("| format | " + " | ".join(LABELS) + " |\n|---|" + "---:|" * len(LABELS))
    for name in FORMATS:
        print(f"| {name} | " + " | ".join(
            f"{ratio((name, large, label), (name, small, label)):.2f}"
            if (name, small, label) in samples else "-" for label in LABELS) + " |")
    print()
    for label in ZERO_COPY:
        print(f"Grey / RGB, {label}: " + ", ".join(
            f"{s[0]}x{s[1]} {ratio(('grey', s, label), ('RGB', s, label)):.2f}" for s in sizes))

    print("\n## Targets (reported, not enforced)\n")

    def verdict(what, pairs, limit, within=False):
        size = (lambda r: max(r, 1 / r)) if within else (lambda r: r)
        r, where = max(pairs, key=lambda p: size(p[0]))
        target = f"within {limit}x of 1" if within else f"<= {limit}"
        print(f"- {what}, worst ({where}): {r:.2f} (target {target}): "
              + ("met" if size(r) <= limit else "NOT met"))

    for label, (grey, colour) in TARGET_RATIO.items():
        for kind, names, limit in (("grey", ["grey"], grey), ("colour", list(FORMATS)[1:], colour)):
            verdict(f"{label} / frombuffer, {kind}",
                    [(ratio((n, s, label), (n, s, "frombuffer")), f"{n} {s[0]}x{s[1]}")
                     for n in names for s in sizes], limit)
        verdict(f"{label}, grey / RGB", [(ratio(("grey", s, label), ("RGB", s, label)),
                                          f"{s[0]}x{s[1]}") for s in sizes], TARGET_GREY)
        verdict(f"{label}, {large[0]}x{large[1]} / {small[0]}x{small[1]}",
                [(ratio((n, large, label), (n, small, label)), n) for n in FORMATS],
                TARGET_SCALING, within=True)
    print("\nfrombuffer \"P\" leaves SDL's default palette (all white), not a grey one; "
          "frombytes copies from a bytes object made beforehand, make_surface from a numpy "
          "view (BGRA's alpha dropped; grey gets a 3-3-2 palette); \"-\": no such call in "
          "this pygame.")


if __name__ == "__main__":
    main()
