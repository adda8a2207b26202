#!/usr/bin/env python3
"""Instructions per call, counted by valgrind's callgrind:

    python bench/callgrind_calls.py [--calls N] [--size WxH] [--jobs J] [WAY:FORMAT ...]

WAY: text or this (RImage_asSDLSurface on a pointer text / on an object whose
`this` holds it) or frombuffer; FORMAT: grey, RGB, BGR, BGRA. By default text
and this for grey, RGB and BGRA, at 64x64. Each case runs its loop twice under
callgrind, with N and 2N calls, counting only inside sys.call_tracing (which
nothing else calls); a figure is (count at 2N - count at N) / N, so what runs
once cancels. Each Surface is dropped before the next call, Python's call and
the Surface's teardown included. Run it with the Python that has Quorvelc and
pygame, PYTHONPATH holding tests/python.
"""

import argparse
import os
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

DEFAULT = [f"{way}:{fmt}" for way in ("text", "this") for fmt in ("grey", "RGB", "BGRA")]


def loop(way, name, size, calls):
    """The profiled loop (in the process under valgrind)."""
    os.environ.setdefault("SDL_VIDEODRIVER", "dummy")
    os.environ.setdefault("PYGAME_HIDE_SUPPORT_PROMPT", "1")
    import pygame
    import Quorvelc
    from formats import FORMATS, Wrapper, record
    size = tuple(int(n) for n in size.split("x"))
    rec = record(name, *size)
    if way == "frombuffer":
        frombuffer, view, fmt = pygame.image.frombuffer, memoryview(rec.memory).cast("B"), FORMATS[name][2]

        def run():
            for _ in range(calls):
                frombuffer(view, size, fmt)
    else:
        conv, arg = Quorvelc.RImage_asSDLSurface, rec.text if way == "text" else Wrapper(rec.text)

        def run():
            for _ in range(calls):
                conv(arg)
    sys.call_tracing(run, ())


def count(case, size, calls, workdir):
    """Instructions inside the loop of one case at `calls` calls."""
    out = os.path.join(workdir, f"cg.{case}.{calls}".replace(":", "."))
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                    "--collect-atstart=no", "--toggle-collect=sys_call_tracing",
                    sys.executable, os.path.abspath(__file__), "--loop", case, size, str(calls)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   env=dict(os.environ, PYTHONHASHSEED="0"))
    with open(out) as profile:
        return next(int(line.split()[1]) for line in profile if line.startswith("totals:"))


def main():
    if sys.argv[1:2] == ["--loop"]:
        way, name = sys.argv[2].split(":")
        return loop(way, name, sys.argv[3], int(sys.argv[4]))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=2000, help="N (default 2000)")
    parser.add_argument("--size", default="64x64", help="image size (default 64x64)")
    parser.add_argument("--jobs", type=int, default=2, help="valgrind runs at once (default 2)")
    parser.add_argument("cases", nargs="*", default=DEFAULT, help="WAY:FORMAT, e.g. text:grey")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as workdir, ThreadPoolExecutor(args.jobs) as pool:
        runs = {(case, n): pool.submit(count, case, args.size, n, workdir)
                for case in args.cases for n in (args.calls, 2 * args.calls)}
        print(f"Instructions per call (callgrind Ir), {args.size}: "
              f"(count at {2 * args.calls} calls - count at {args.calls}) / {args.calls}\n")
        print("| way | format | instructions per call |\n|---|---|---:|")
        for case in args.cases:
            per_call = (runs[case, 2 * args.calls].result() - runs[case, args.calls].result()) / args.calls
            print(f"| {case.replace(':', ' | ')} | {per_call:.0f} |")


if __name__ == "__main__":
    main()
