"""For the leak and bad-input tests: dummy SDL drivers set before pygame is
imported, the tests' record helpers, and the refusal message.

Imports nothing but os and records, so that subprocesses running with a fake
pygame package can use it too.
"""

import os

# No screen here: SDL must pick its dummy drivers before pygame is imported.
os.environ["SDL_VIDEODRIVER"] = "dummy"
os.environ.setdefault("SDL_AUDIODRIVER", "dummy")
os.environ.setdefault("PYGAME_HIDE_SUPPORT_PROMPT", "1")

# One record layout and helpers for all the tests.
from records import TAG, Record, RImage, Wrapper, pointer_text  # noqa: F401

TYPE_ERROR = "Type error. Expected _p_RImage"
