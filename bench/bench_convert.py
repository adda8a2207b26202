#!/usr/bin/env python3
"""Times RImage_asSDLSurface against pygame's own ways of making a Surface.

In one process and one run, for every image size and pixel format, it times
one call of:

  Quorvelc text    RImage_asSDLSurface(pointer text)
  Quorvelc this    RImage_asSDLSurface(wrapper object whose `this` is the text)
  frombuffer       pygame.image.frombuffer over the same pixel memory (no copy)
  frombuffer+pal   grey only: frombuffer "P", then set_palette(grey ramp), which
                   is what a grey image needs to look grey
  frombytes        pygame.image.frombytes (fromstring on old pygame): copies
  make_surface     pygame.surfarray.make_surface over a numpy view: copies

Every time is a median over rounds; a round times many calls in a row and
divides. The ways that copy nothing are timed together: each round visits
every size, format and way in turn, briefly, so a slow spell of the machine
falls on all of them alike. A ratio of two such ways is the median of their
ratios within each round, which a change of load between rounds leaves
alone. The copying ways follow, cell by cell; where one call is longer than
a round they run one call per round and fewer rounds (an odd number, at
least --min-rounds).

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
from formats import FORMATS, GREY_RAMP, Wrapper, make_record  # noqa: E402

SIZES = [(1, 1), (64, 64), (640, 480), (1920, 1080), (4096, 4096)]
LABELS = ["Quorvelc text", "Quorvelc this", "frombuffer", "frombuffer+pal", "frombytes",
          "make_surface"]

TARGET_RATIO = 0.85    # Quorvelc / frombuffer, at every size and format
TARGET_SCALING = 1.1   # Quorvelc at the largest size / at 64x64
TARGET_GREY = 1.3      # Quorvelc, grey / RGB

FROMBYTES = getattr(pygame.image, "frombytes", None) or pygame.image.fromstring


def frombytes_takes(pg_format, channels):
    """Whether this pygame's frombytes knows the format (pygame 2.6 has no "BGR")."""
    try:
        FROMBYTES(bytes(channels), (1, 1), pg_format)
    except ValueError:
        return False
    return True


class Cell:
    """One size and format: the record, its pixels and what the timed calls use."""

    def __init__(self, fmt, width, height):
        self.name, self.channels, _, self.pg_format = fmt
        self.size = (width, height)
        self.record = make_record(fmt, width, height)
        self.text = self.record.text
        self.wrapper = Wrapper(self.text)
        self.view = memoryview(self.record.memory).cast("B")
        self.check()

    def namespace(self, **more):
        return dict(conv=Quorvelc.RImage_asSDLSurface, text=self.text, wrapper=self.wrapper,
                    frombuffer=pygame.image.frombuffer, view=self.view, size=self.size,
                    fmt=self.pg_format, ramp=GREY_RAMP, **more)

    def zero_copy_calls(self):
        calls = [("Quorvelc text", "conv(text)"),
                 ("Quorvelc this", "conv(wrapper)"),
                 ("frombuffer", "frombuffer(view, size, fmt)")]
        if self.channels == 1:
            calls.append(("frombuffer+pal", "frombuffer(view, size, fmt).set_palette(ramp)"))
        ns = self.namespace()
        return [(label, timeit.Timer(stmt, globals=ns)) for label, stmt in calls]

    def copying_calls(self):
        """Made only while the cell's copies are timed: they hold a copy of the pixels."""
        width, height = self.size
        flat = numpy.frombuffer(self.view, dtype=numpy.uint8)
        if self.channels == 1:
            array = flat.reshape(height, width).T                       # (w, h)
        elif self.name == "RGB":
            array = flat.reshape(height, width, 3).transpose(1, 0, 2)
        else:                                # blue first: reversed view, alpha dropped
            array = flat.reshape(height, width, self.channels).transpose(1, 0, 2)[:, :, 2::-1]
        ns = self.namespace(frombytes=FROMBYTES, make_surface=pygame.surfarray.make_surface,
                            data=bytes(self.view), array=array)
        calls = []
        if frombytes_takes(self.pg_format, self.channels):
            calls.append(("frombytes", "frombytes(data, size, fmt)"))
        calls.append(("make_surface", "make_surface(array)"))
        return [(label, timeit.Timer(stmt, globals=ns)) for label, stmt in calls]

    def check(self):
        """The timed calls must make real Surfaces over the record, alike in
        format, or the figures would time an early way out."""
        reference = pygame.image.frombuffer(self.view, self.size, self.pg_format)
        for argument in (self.text, self.wrapper):
            surface = Quorvelc.RImage_asSDLSurface(argument)
            if (surface is None or surface.get_size() != self.size
                    or surface.get_bitsize() != reference.get_bitsize()
                    or surface.get_masks() != reference.get_masks()):
                sys.exit(f"RImage_asSDLSurface gave {surface!r} for a {self.size} "
                         f"{self.name} record; frombuffer gives {reference!r}")
        if self.channels == 1 and surface.get_palette_at(200)[:3] != (200, 200, 200):
            sys.exit("a grey Surface came without its grey palette")


def calibrate(timer, round_time):
    """Calls per round so that a round lasts about round_time, and the time
    of one call (after a warm-up call)."""
    timer.timeit(1)
    single = timer.timeit(1)
    if single >= round_time:
        return 1, single
    number = max(1, int(round_time / max(single, 1e-9)))
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= round_time * 0.5:
            return max(1, int(number * round_time / elapsed)), elapsed / number
        number *= 4


def run_rounds(plans):
    """plans: [key, timer, calls per round, rounds wanted]. Runs the rounds,
    visiting every plan in each (in turn reversed every other round). Gives
    {key: (median seconds per call, rounds, calls per round)} and the
    seconds per call of every round, {key: [round 0, round 1, ...]}."""
    samples = {plan[0]: [] for plan in plans}
    for r in range(max(plan[3] for plan in plans)):
        for key, timer, number, count in (plans if r % 2 == 0 else reversed(plans)):
            if r < count:
                samples[key].append(timer.timeit(number) / number)
    figures = {key: (statistics.median(samples[key]), len(samples[key]), number)
               for key, timer, number, count in plans}
    return figures, samples


def odd(n):
    return n | 1


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


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help="few short rounds, for CI: the figures are rough")
    parser.add_argument("--rounds", type=int,
                        help="rounds of each way (made odd; default 101, quick 15)")
    parser.add_argument("--min-rounds", type=int,
                        help="fewest rounds of a long copying call (default 7, quick 3)")
    parser.add_argument("--round-ms", type=float,
                        help="time of one way in one round, in ms (default 1, quick 0.5)")
    parser.add_argument("--sizes", help="comma-separated WxH list, e.g. 64x64,640x480")
    parser.add_argument("--formats", help="comma-separated subset of grey,RGB,BGR,BGRA")
    args = parser.parse_args()
    args.rounds = odd(args.rounds or (15 if args.quick else 101))
    args.min_rounds = odd(args.min_rounds or (3 if args.quick else 7))
    args.round_time = (args.round_ms or (0.5 if args.quick else 1)) / 1000
    args.long_budget = 0.3 if args.quick else 2.0   # seconds for each long copying way
    args.sizes = ([tuple(int(n) for n in s.lower().split("x")) for s in args.sizes.split(",")]
                  if args.sizes else SIZES)
    args.formats = ([f for f in FORMATS if f[0] in args.formats.split(",")]
                    if args.formats else FORMATS)
    return args


def measure(args):
    """{(format name, size, label): (median, rounds, calls per round)}, and
    the round-by-round times of the ways that copy nothing (see run_rounds)."""
    cells = [Cell(fmt, w, h) for fmt in args.formats for w, h in args.sizes]
    plans = []
    for cell in cells:
        for label, timer in cell.zero_copy_calls():
            number, _ = calibrate(timer, args.round_time)
            plans.append([(cell.name, cell.size, label), timer, number, args.rounds])
    flat, rounds = run_rounds(plans)

    for cell in cells:   # one cell at a time: each holds a copy of its pixels
        plans = []
        for label, timer in cell.copying_calls():
            number, single = calibrate(timer, args.round_time)
            count = args.rounds
            if number == 1:
                count = odd(max(args.min_rounds, min(args.rounds, int(args.long_budget / single))))
            plans.append([(cell.name, cell.size, label), timer, number, count])
        flat.update(run_rounds(plans)[0])
        del plans
    return flat, rounds


def report(args, figures, rounds):
    sizes, names = args.sizes, [f[0] for f in args.formats]

    def time(name, size, label):
        figure = figures.get((name, size, label))
        return figure[0] if figure else None

    def ratio(a, b):
        """a / b for two (name, size, label) keys: the median of the per-round
        ratios when both ran in the same rounds (a change of machine load
        between rounds then cancels), else the ratio of the medians."""
        if a in rounds and b in rounds:
            return statistics.median(x / y for x, y in zip(rounds[a], rounds[b]))
        return figures[a][0] / figures[b][0]

    print("## Time per call (median)\n")
    print("| format | size | " + " | ".join(LABELS) + " | text / frombuffer | this / frombuffer |")
    print("|---|---|" + "---:|" * (len(LABELS) + 2))
    for name in names:
        for size in sizes:
            fb = (name, size, "frombuffer")
            print(f"| {name} | {size[0]}x{size[1]} | "
                  + " | ".join(fmt_time(time(name, size, label)) for label in LABELS)
                  + f" | {ratio((name, size, 'Quorvelc text'), fb):.2f}"
                  + f" | {ratio((name, size, 'Quorvelc this'), fb):.2f} |")
    long_runs = [figure[1] for figure in figures.values() if figure[2] == 1]
    print(f"\nRounds: {args.rounds} of ~{args.round_time * 1e3:g} ms for every way and cell"
          + (f"; calls longer than that ran once per round, in {min(long_runs)} to "
             f"{max(long_runs)} rounds" if long_runs else "")
          + ". Ratios are medians of the ratios within each round where both ways ran "
          "in the same rounds (all but the copying ways).")

    small, large = sizes[0], sizes[-1]
    print(f"\n## Scaling: time at {large[0]}x{large[1]} / time at {small[0]}x{small[1]}\n")
    print("| format | " + " | ".join(LABELS) + " |")
    print("|---|" + "---:|" * len(LABELS))
    for name in names:
        print(f"| {name} | " + " | ".join(
            f"{ratio((name, large, label), (name, small, label)):.2f}"
            if (name, small, label) in figures and (name, large, label) in figures else "-"
            for label in LABELS) + " |")

    print("\n## Targets (reported, not enforced)\n")

    def verdict(value, limit):
        return f"{value:.2f} (target <= {limit}): {'met' if value <= limit else 'NOT met'}"

    def worst(pairs):
        """The largest ratio of (a, b, where) triples, with its where."""
        return max((ratio(a, b), where) for a, b, where in pairs)

    quorvelc = ("Quorvelc text", "Quorvelc this")
    for label in quorvelc:
        value, where = worst(((n, s, label), (n, s, "frombuffer"), f"{n} {s[0]}x{s[1]}")
                             for n in names for s in sizes)
        print(f"- {label} / frombuffer, worst cell ({where}): {verdict(value, TARGET_RATIO)}")
    if (64, 64) in sizes and large != (64, 64):
        for label in quorvelc:
            value, where = worst(((n, large, label), (n, (64, 64), label), n) for n in names)
            print(f"- {label}, {large[0]}x{large[1]} / 64x64, worst format ({where}): "
                  f"{verdict(value, TARGET_SCALING)}")
    if "grey" in names and "RGB" in names:
        for label in quorvelc:
            value, where = worst((("grey", s, label), ("RGB", s, label), f"{s[0]}x{s[1]}")
                                 for s in sizes)
            print(f"- {label}, grey / RGB, worst size ({where}): {verdict(value, TARGET_GREY)}")
    print("\nfrombuffer \"P\" leaves SDL's default palette (all white), not a grey one. "
          "frombytes and make_surface copy every pixel: frombytes from a bytes object "
          "made beforehand (it takes nothing else), make_surface from a numpy view, "
          "dropping BGRA's alpha and giving grey a 3-3-2 palette; \"-\": this pygame's "
          "frombytes has no such format.")


def main():
    args = parse_args()
    print(f"# RImage_asSDLSurface benchmark{' (quick)' if args.quick else ''}\n")
    print(machine() + "  ")
    print(f"Quorvelc from {Quorvelc.__file__}\n")
    report(args, *measure(args))


if __name__ == "__main__":
    main()
