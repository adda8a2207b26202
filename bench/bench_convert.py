#!/usr/bin/env python3
"""Times RImage_asSDLSurface against pygame's own ways of making a Surface.

In one process and one run, for every image size and pixel format, it times
one call of:

  Quorvelc "text"   RImage_asSDLSurface(pointer text)
  Quorvelc "this"   RImage_asSDLSurface(wrapper object whose `this` is the text)
  frombuffer        pygame.image.frombuffer over the same pixel memory (no copy)
  frombuffer+pal    grey only: frombuffer "P", then set_palette(grey ramp), which
                    is what a grey image needs to look grey
  frombytes         pygame.image.frombytes (fromstring on old pygame): copies
  make_surface      pygame.surfarray.make_surface over a numpy view: copies

Each time is the median over rounds; a round times many calls in a row and
divides. Rounds of the different ways are interleaved, so a slow spell of the
machine hits them all alike. Calls that take long (the copying ways at large
sizes) run one call per round and fewer rounds, never fewer than --min-rounds.

Nothing here asserts a time: the targets at the end are reported, not enforced.
"""

import argparse
import os
import platform
import statistics
import sys
import timeit

os.environ.setdefault("SDL_VIDEODRIVER", "dummy")
os.environ.setdefault("SDL_AUDIODRIVER", "dummy")
os.environ.setdefault("PYGAME_HIDE_SUPPORT_PROMPT", "1")

import numpy  # noqa: E402  (the benchmark's own dependency, not the module's)
import pygame  # noqa: E402

import Quorvelc  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from records import FORMATS, GREY_RAMP, Wrapper, make_record, pointer_text  # noqa: E402

SIZES = [(1, 1), (64, 64), (640, 480), (1920, 1080), (4096, 4096)]

TARGET_RATIO = 0.85    # Quorvelc / frombuffer, at every size and format
TARGET_SCALING = 1.1   # Quorvelc at the largest size / at 64x64
TARGET_GREY = 1.3      # grey / RGB, Quorvelc


FROMBYTES = getattr(pygame.image, "frombytes", None) or pygame.image.fromstring


def frombytes_takes(pg_format, channels):
    """Whether this pygame's frombytes knows the format (pygame 2.6 has no "BGR")."""
    try:
        FROMBYTES(bytes(channels), (1, 1), pg_format)
    except ValueError:
        return False
    return True


def cell_calls(width, height, fmt):
    """The timed ways for one size and format, [(label, stmt, namespace)], and
    what keeps the record alive while they run."""
    name, channels, order, pg_format = fmt
    size = width * height * channels
    record, pixels = make_record(fmt, width, height)
    text = pointer_text(record)
    wrapper = Wrapper(text)
    view = memoryview(pixels).cast("B")[:size]
    data = bytes(view)                       # frombytes takes bytes only
    flat = numpy.frombuffer(view, dtype=numpy.uint8)
    if channels == 1:
        array = flat.reshape(height, width).T                      # (w, h)
    elif name == "RGB":
        array = flat.reshape(height, width, 3).transpose(1, 0, 2)
    else:                                    # blue first: reversed view, alpha dropped
        array = flat.reshape(height, width, channels).transpose(1, 0, 2)[:, :, 2::-1]
    ns = {
        "conv": Quorvelc.RImage_asSDLSurface, "text": text, "wrapper": wrapper,
        "frombuffer": pygame.image.frombuffer, "frombytes": FROMBYTES,
        "make_surface": pygame.surfarray.make_surface, "view": view, "data": data,
        "array": array, "size": (width, height), "fmt": pg_format, "ramp": GREY_RAMP,
    }
    calls = [
        ("Quorvelc text", "conv(text)"),
        ("Quorvelc this", "conv(wrapper)"),
        ("frombuffer", "frombuffer(view, size, fmt)"),
    ]
    if channels == 1:
        calls.append(("frombuffer+pal", "frombuffer(view, size, fmt).set_palette(ramp)"))
    if frombytes_takes(pg_format, channels):
        calls.append(("frombytes", "frombytes(data, size, fmt)"))
    calls.append(("make_surface", "make_surface(array)"))
    check(text, wrapper, width, height, channels)
    return [(label, stmt, ns) for label, stmt in calls], (record, pixels)


def check(text, wrapper, width, height, channels):
    """Every timed call must make a real Surface over the record, or the
    figures would time an early way out."""
    for argument in (text, wrapper):
        surface = Quorvelc.RImage_asSDLSurface(argument)
        if surface is None or surface.get_size() != (width, height) \
                or surface.get_bytesize() != channels:
            sys.exit(f"RImage_asSDLSurface gave {surface!r} for a {width}x{height} "
                     f"{channels}-channel record")
    if channels == 1 and surface.get_palette_at(200)[:3] != (200, 200, 200):
        sys.exit("a grey Surface came without its grey palette")


def time_cell(calls, rounds, min_rounds, round_time, long_budget):
    """Median seconds per call for each way, rounds interleaved."""
    plans = []
    for label, stmt, ns in calls:
        timer = timeit.Timer(stmt, globals=ns)
        single = timer.timeit(1)             # warm-up, and a first size of a call
        single = min(single, timer.timeit(1))
        if single >= round_time:
            number = 1
            # Long calls: as many rounds as the budget allows, but an odd
            # count of at least min_rounds, so the median is a real round.
            count = int(long_budget / single)
            count = max(min_rounds, min(rounds, count))
        else:
            number = max(1, int(round_time / max(single, 1e-9)))
            while True:                      # grow until one round fills round_time
                elapsed = timer.timeit(number)
                if elapsed >= round_time * 0.5:
                    number = max(1, int(number * round_time / elapsed))
                    break
                number *= 4
            count = rounds
        count |= 1
        plans.append([label, timer, number, count, []])
    for r in range(max(plan[3] for plan in plans)):
        for label, timer, number, count, samples in plans:
            if r < count:
                samples.append(timer.timeit(number) / number)
    return {label: (statistics.median(samples), len(samples), number)
            for label, timer, number, count, samples in plans}


def fmt_time(seconds):
    if seconds is None:
        return "-"
    us = seconds * 1e6
    if us < 10:
        return f"{us:.3f} µs"
    if us < 1000:
        return f"{us:.1f} µs"
    return f"{us / 1000:.2f} ms"


def machine():
    model = platform.processor() or "?"
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    sdl = ".".join(map(str, pygame.get_sdl_version()))
    flavour = "pygame-ce" if getattr(pygame, "IS_CE", False) else "pygame"
    return (f"CPU {model}, {os.cpu_count()} logical CPUs; {platform.system()} "
            f"{platform.machine()}; Python {platform.python_version()}; "
            f"{flavour} {pygame.version.ver}, SDL {sdl}; numpy {numpy.__version__}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help="few short rounds (for CI): figures are rough")
    parser.add_argument("--rounds", type=int, help="rounds per way (odd; default 21, quick 5)")
    parser.add_argument("--sizes", help="comma-separated WxH list, e.g. 64x64,640x480")
    parser.add_argument("--formats", help="comma-separated subset of grey,RGB,BGR,BGRA")
    args = parser.parse_args()

    rounds = args.rounds or (5 if args.quick else 21)
    min_rounds = 3 if args.quick else 5
    round_time = 0.002 if args.quick else 0.02
    long_budget = 0.2 if args.quick else 2.0
    sizes = SIZES
    if args.sizes:
        sizes = [tuple(int(n) for n in s.lower().split("x")) for s in args.sizes.split(",")]
    formats = FORMATS
    if args.formats:
        wanted = args.formats.split(",")
        formats = [f for f in FORMATS if f[0] in wanted]

    print(f"# RImage_asSDLSurface benchmark{' (quick)' if args.quick else ''}\n")
    print(machine())
    print(f"Quorvelc from {Quorvelc.__file__}")
    print(f"median of {rounds} rounds of ~{round_time * 1e3:g} ms each; calls over "
          f"{round_time * 1e3:g} ms: one per round, {min_rounds} to {rounds} rounds "
          f"within ~{long_budget:g} s\n")

    results = {}   # (format name, size) -> {label: (median, rounds, calls per round)}
    for fmt in formats:
        for width, height in sizes:
            calls, keep = cell_calls(width, height, fmt)
            results[fmt[0], (width, height)] = time_cell(
                calls, rounds, min_rounds, round_time, long_budget)
            del calls, keep

    labels = ["Quorvelc text", "Quorvelc this", "frombuffer", "frombuffer+pal",
              "frombytes", "make_surface"]
    print("## Time per call (median)\n")
    print("| format | size | " + " | ".join(labels) +
          " | text / frombuffer | this / frombuffer |")
    print("|---|---|" + "---:|" * (len(labels) + 2))
    for (name, (width, height)), cell in results.items():
        times = [cell[label][0] if label in cell else None for label in labels]
        fb = cell["frombuffer"][0]
        print(f"| {name} | {width}x{height} | " + " | ".join(fmt_time(t) for t in times) +
              f" | {cell['Quorvelc text'][0] / fb:.2f} | {cell['Quorvelc this'][0] / fb:.2f} |")
    print("\nRounds per cell: "
          + "; ".join(sorted({f"{label} at {w}x{h}: {n} rounds x {k} calls"
                              for (name, (w, h)), cell in results.items()
                              for label, (t, n, k) in cell.items()
                              if (w, h) == sizes[-1] and name == formats[-1][0]})))

    smallest, largest = sizes[0], sizes[-1]
    print(f"\n## Scaling: time at {largest[0]}x{largest[1]} / time at "
          f"{smallest[0]}x{smallest[1]}\n")
    print("| format | " + " | ".join(labels) + " |")
    print("|---|" + "---:|" * len(labels))
    for fmt in formats:
        name = fmt[0]
        small, large = results[name, smallest], results[name, largest]
        ratios = [f"{large[label][0] / small[label][0]:.2f}"
                  if label in small and label in large else "-"
                  for label in labels]
        print(f"| {name} | " + " | ".join(ratios) + " |")

    print("\n## Targets (reported, not enforced)\n")
    worst = max((cell["Quorvelc text"][0] / cell["frombuffer"][0], key)
                for key, cell in results.items())
    worst_this = max((cell["Quorvelc this"][0] / cell["frombuffer"][0], key)
                     for key, cell in results.items())
    print(f"- Quorvelc text / frombuffer, worst cell: {worst[0]:.2f} at {worst[1][0]} "
          f"{worst[1][1][0]}x{worst[1][1][1]} (target <= {TARGET_RATIO}): "
          f"{'met' if worst[0] <= TARGET_RATIO else 'NOT met'}")
    print(f"- Quorvelc this / frombuffer, worst cell: {worst_this[0]:.2f} at "
          f"{worst_this[1][0]} {worst_this[1][1][0]}x{worst_this[1][1][1]} "
          f"(target <= {TARGET_RATIO}): {'met' if worst_this[0] <= TARGET_RATIO else 'NOT met'}")
    if (64, 64) in sizes:
        for fmt in formats:
            name = fmt[0]
            ratio = (results[name, largest]["Quorvelc text"][0]
                     / results[name, (64, 64)]["Quorvelc text"][0])
            print(f"- Quorvelc text, {name}, {largest[0]}x{largest[1]} / 64x64: {ratio:.2f} "
                  f"(target <= {TARGET_SCALING}): "
                  f"{'met' if ratio <= TARGET_SCALING else 'NOT met'}")
    names = [f[0] for f in formats]
    if "grey" in names and "RGB" in names:
        ratios = [results["grey", s]["Quorvelc text"][0] / results["RGB", s]["Quorvelc text"][0]
                  for s in sizes]
        print(f"- Quorvelc text, grey / RGB: {min(ratios):.2f} to {max(ratios):.2f} over the "
              f"sizes (target <= {TARGET_GREY}): "
              f"{'met' if max(ratios) <= TARGET_GREY else 'NOT met'}")
    print("\nfrombuffer \"P\" leaves pygame's default palette (not grey); frombytes and "
          "make_surface copy every pixel (frombytes from a bytes object made beforehand; "
          "make_surface drops BGRA's alpha and gives grey its 3-3-2 palette).")


if __name__ == "__main__":
    main()
