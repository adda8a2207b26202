#!/usr/bin/env python3
"""Instructions per call of RImage_asSDLSurface and of pygame.image.frombuffer,
counted by valgrind's callgrind.

For each way and format, profile_convert.py runs twice under callgrind, with
N and with 2N calls, counting only inside its loop; every figure is
(count at 2N - count at N) / N, so what runs once cancels out. Per call:

  total     the whole loop iteration: Python's call, the Surface's teardown, the loop
  call      the call made through tp_call: argument tuple, the C function, tuple release
  entry     the C function alone (image_as_sdl_surface_call / image_frombuffer)
  dealloc   the Surface's teardown (pygame's surface_dealloc, SDL_FreeSurface)
  palette   set_palette (frombuffer+pal only)

    python bench/callgrind_calls.py [--calls N] [--size WxH] [--jobs J] [WAY:FORMAT ...]

Run it with the Python whose site holds Quorvelc and pygame (or set PYTHONPATH).
"""

import argparse
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

DEFAULT_CASES = ["text:grey", "text:RGB", "text:BGR", "text:BGRA", "this:RGB", "this:grey",
                 "text-kept:grey", "text-kept:RGB",
                 "frombuffer:grey", "frombuffer+pal:grey", "frombuffer:RGB", "frombuffer:BGR",
                 "frombuffer:BGRA"]

# column -> function names whose inclusive count goes into it
COLUMNS = {
    "call": ["_PyObject_MakeTpCall"],
    "entry": ["image_as_sdl_surface_call", "image_frombuffer"],
    "dealloc": ["surface_dealloc"],
    "palette": ["surf_set_palette"],
}

LINE = re.compile(r"^\s*([\d,]+)\s+\(\s*[\d.]+%\)\s+(.*)$")


def inclusive_counts(out_file):
    """{column: inclusive Ir, "total": program total} of one callgrind output."""
    text = subprocess.run(
        ["callgrind_annotate", "--inclusive=yes", "--threshold=100", out_file],
        check=True, capture_output=True, text=True).stdout
    counts = {column: 0 for column in COLUMNS}
    counts["total"] = 0
    for line in text.splitlines():
        match = LINE.match(line)
        if not match:
            continue
        value, where = int(match.group(1).replace(",", "")), match.group(2)
        if where.startswith("PROGRAM TOTALS"):
            counts["total"] = value
            continue
        # "file:function(args) [object]": one function may show under several
        # files (inlined headers); its own entry carries the largest count.
        function = where.split(" [")[0].rsplit(":", 1)[-1].split("(")[0].strip()
        for column, names in COLUMNS.items():
            if function in names:
                counts[column] = max(counts[column], value)
    return counts


def profile(way, format_name, size, calls, workdir):
    out = os.path.join(workdir, f"cg.{way}.{format_name}.{calls}")
    env = dict(os.environ, PYTHONHASHSEED="0", SDL_VIDEODRIVER="dummy")
    subprocess.run(
        ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
         "--collect-atstart=no", "--toggle-collect=sys_call_tracing", sys.executable,
         os.path.join(HERE, "profile_convert.py"), way, format_name, size, str(calls)],
        check=True, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return inclusive_counts(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=5000, help="N (default 5000)")
    parser.add_argument("--size", default="64x64", help="image size (default 64x64)")
    parser.add_argument("--jobs", type=int, default=1, help="valgrind runs at once")
    parser.add_argument("cases", nargs="*", help="WAY:FORMAT, e.g. text:grey")
    args = parser.parse_args()
    cases = [tuple(case.split(":")) for case in (args.cases or DEFAULT_CASES)]

    with tempfile.TemporaryDirectory() as workdir, \
            concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        runs = {(way, fmt, n): pool.submit(profile, way, fmt, args.size, n, workdir)
                for way, fmt in cases for n in (args.calls, 2 * args.calls)}
        columns = ["total", "call", "entry", "dealloc", "palette"]
        print(f"Instructions per call (callgrind Ir), {args.size}, "
              f"(count at {2 * args.calls} calls - count at {args.calls}) / {args.calls}\n")
        print("| way | format | " + " | ".join(columns) + " |")
        print("|---|---|" + "---:|" * len(columns))
        for way, fmt in cases:
            low = runs[way, fmt, args.calls].result()
            high = runs[way, fmt, 2 * args.calls].result()
            per_call = [(high[c] - low[c]) / args.calls for c in columns]
            print(f"| {way} | {fmt} | " + " | ".join(
                f"{v:.0f}" if v else "-" for v in per_call) + " |")


if __name__ == "__main__":
    main()
