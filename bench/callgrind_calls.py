#!/usr/bin/env python3
"""Instructions per call, counted by valgrind's callgrind:

    python bench/callgrind_calls.py [--calls N] [--size WxH] [WAY:FORMAT ...]

WAY: text, this (a pointer text / an object whose `this` holds it) or
frombuffer; by default text and this × grey, RGB, BGRA at 64x64. Each case runs
under callgrind at N and 2N calls, counted only inside sys.call_tracing: a figure
is (count at 2N - count at N) / N, the call and the Surface's teardown included.
"""

import argparse
import os
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor


def loop(case: str, size_text: str, calls_text: str) -> None:
    """The profiled loop, in the process under valgrind; each Surface dies before the next."""
    os.environ.setdefault("SDL_VIDEODRIVER", "dummy")
    import pygame

    import Quorvelc
    from formats import FORMATS, Wrapper, record

    way, name = case.split(":")
    width, height = (int(n) for n in size_text.split("x"))
    size, calls = (width, height), int(calls_text)
    rec = record(name, size)
    conv, arg = Quorvelc.RImage_asSDLSurface, rec.text if way == "text" else Wrapper(rec.text)
    frombuffer, fmt = pygame.image.frombuffer, FORMATS[name][2]
    view = memoryview(rec.memory).cast("B")

    if way == "frombuffer":  # calls spelled out: f(*args) would build a tuple

        def run() -> None:
            for _ in range(calls):
                frombuffer(view, size, fmt)
    else:

        def run() -> None:
            for _ in range(calls):
                conv(arg)

    sys.call_tracing(run, ())


def count(case: str, size: str, calls: int, workdir: str) -> int:
    """Instructions inside the loop of one case at `calls` calls."""
    out = os.path.join(workdir, f"cg.{case.replace(':', '.')}.{calls}")
    subprocess.run(
        [
            "valgrind",
            "--tool=callgrind",
            f"--callgrind-out-file={out}",
            "--collect-atstart=no",
            "--toggle-collect=sys_call_tracing",
            sys.executable,
            os.path.abspath(__file__),
            "--loop",
            case,
            size,
            str(calls),
        ],
        check=True,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
        env=dict(os.environ, PYTHONHASHSEED="0"),
    )
    with open(out) as profile:
        return next(int(line.split()[1]) for line in profile if line.startswith("totals:"))


def main() -> None:
    if sys.argv[1:2] == ["--loop"]:
        return loop(*sys.argv[2:5])
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=2000, help="N (default 2000)")
    parser.add_argument("--size", default="64x64", help="image size (default 64x64)")
    parser.add_argument(
        "cases",
        nargs="*",
        help="WAY:FORMAT, e.g. text:grey",
        default=[f"{way}:{name}" for way in ("text", "this") for name in ("grey", "RGB", "BGRA")],
    )
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as workdir, ThreadPoolExecutor(2) as pool:
        runs = {
            (case, n): pool.submit(count, case, args.size, n, workdir)
            for case in args.cases
            for n in (args.calls, 2 * args.calls)
        }
        print(
            f"Instructions per call (callgrind Ir), {args.size}: "
            f"(count at {2 * args.calls} calls - count at {args.calls}) / {args.calls}\n"
        )
        print("| way | format | instructions per call |\n|---|---|---:|")
        for case in args.cases:
            low, high = (runs[case, n].result() for n in (args.calls, 2 * args.calls))
            print(f"| {case.replace(':', ' | ')} | {(high - low) / args.calls:.0f} |")


if __name__ == "__main__":
    main()
