#!/usr/bin/env python3
"""Makes Surfaces in a loop, one way at a time, for an instruction-count
profiler (see callgrind_calls.py):

    python profile_convert.py WAY FORMAT WxH CALLS

WAY: text, this (RImage_asSDLSurface on a pointer text / on a wrapper whose
`this` holds it), frombuffer, frombuffer+pal (pygame.image.frombuffer, the
latter followed by set_palette with a grey ramp). FORMAT: grey, RGB, BGR, BGRA.
Each Surface is dropped before the next call, as in the timed benchmark,
except in text-kept: RImage_asSDLSurface on the text, each Surface kept until
the next one is made, as a program that shows one frame after another does.
The loop runs inside sys.call_tracing, which nothing else calls: callgrind
collects only there (--toggle-collect=sys_call_tracing).
"""

import os
import sys

os.environ.setdefault("SDL_VIDEODRIVER", "dummy")
os.environ.setdefault("PYGAME_HIDE_SUPPORT_PROMPT", "1")

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from formats import FORMATS, GREY_RAMP, Wrapper, make_record  # noqa: E402

import pygame  # noqa: E402

import Quorvelc  # noqa: E402


def main():
    way, format_name, size_text, calls = sys.argv[1:5]
    width, height = (int(n) for n in size_text.lower().split("x"))
    calls = int(calls)
    fmt = next(f for f in FORMATS if f[0] == format_name)
    record = make_record(fmt, width, height)
    text = record.text
    wrapper = Wrapper(text)
    view = memoryview(record.memory).cast("B")
    conv = Quorvelc.RImage_asSDLSurface
    frombuffer = pygame.image.frombuffer
    size, pg_format, ramp = (width, height), fmt[3], GREY_RAMP
    if way == "text":
        def loop():
            for _ in range(calls):
                conv(text)
    elif way == "text-kept":
        def loop():
            surface = None
            for _ in range(calls):
                surface = conv(text)  # noqa: F841  (the previous one lives until here)
    elif way == "this":
        def loop():
            for _ in range(calls):
                conv(wrapper)
    elif way == "frombuffer":
        def loop():
            for _ in range(calls):
                frombuffer(view, size, pg_format)
    elif way == "frombuffer+pal":
        def loop():
            for _ in range(calls):
                frombuffer(view, size, pg_format).set_palette(ramp)
    else:
        sys.exit(f"unknown way {way!r}")
    # The profiler counts only what runs inside sys.call_tracing: the loop,
    # not the start-up before it.
    sys.call_tracing(loop, ())


if __name__ == "__main__":
    main()
