"""Running out of memory: each allocation that `import Quorvelc` or a call
makes is made to fail in turn (`_testcapi.set_nomemory`, one failing
allocation per run), each in a process forked for that one index, so that a
crash fails its own index only. The `faults` session runs this file alone, on
an interpreter built with `_testcapi`; the other sessions skip it.
"""

import ast
import collections
import ctypes
import faulthandler
import gc
import importlib.util
import os
import shutil
import signal
import sys

import pytest

from hardening_support import TYPE_ERROR, Record, Wrapper, pointer_text
from records import CANARY, DIGITS, TAG

# isort: split
import pygame  # once here, not in every child; after the dummy drivers are set

pytestmark = pytest.mark.skipif(
    not os.environ.get("QUORVELC_FAULTS"),
    reason="needs _testcapi and os.fork: the faults session runs it",
)

# The row of docs/bad-input.md that this sweep stands for.
DOCUMENT_ROW = "memory running out"

MEMORY_ERROR = ("MemoryError", "")
# pygame's Surface.get_buffer() raises this, naming the objects, when it
# cannot allocate its lock: pixels passes it on.
LOCK_FAILED = ("BufferError", "Unable to lock")
REFUSED = ("TypeError", TYPE_ERROR)
LAST_INDEX = 100_000  # no path comes near; a sweep that does has lost its end


class Text(str):
    pass


class ComputedThis:
    """A wrapper whose `this` is made afresh, allocating, at each read."""

    def __init__(self, address):
        self.address = address

    @property
    def this(self):
        return pointer_text(self.address)


# Argument kinds made from a record's address, and whether a failed allocation
# may end as the TypeError: every Exception raised while `this` is read, and a
# text that cannot be encoded, become that refusal.
KINDS = {
    "pointer text": (pointer_text, False),
    "str subclass": (lambda a: Text(pointer_text(a)), False),
    "this wrapper": (lambda a: Wrapper(pointer_text(a)), False),
    "computed this": (ComputedThis, True),
}
LAYOUTS = {
    "grey": {"channels": 1},
    "RGB": {"channels": 3, "order": b"RGB"},
    "BGRA": {"channels": 4, "order": b"BGRA"},
}
RECORDS = []  # kept alive for the children forked from this process


def record(**fields):
    RECORDS.append(Record(4, 3, **fields))
    return RECORDS[-1]


# label: argument, what it gives with memory to spare ("Surface", "None" or
# the refusal), the same argument for a record that gives None (its
# allocations are those of the call up to pygame's constructor), and whether
# the TypeError may stand for a failed allocation.
CALLS = {
    "None": (None, "None", None, False),
    '"NULL"': ("NULL", "None", None, False),
    "wrong tag": (pointer_text(record().address, "_p_Other"), REFUSED, None, False),
    "non-ASCII text": ("_" + "é" * (DIGITS // 2) + TAG, "None", None, True),
}
for _layout, _fields in LAYOUTS.items():
    _shown, _refused = record(**_fields), record(depth=16, **_fields)
    for _kind, (_make, _lenient) in KINDS.items():
        CALLS[f"{_kind}, {_layout}"] = (
            _make(_shown.address),
            "Surface",
            _make(_refused.address),
            _lenient,
        )
SHOWN = record(channels=3, order=b"RGB")  # what a module imported under failure must show
NOT_SHOWN = record(channels=3, order=b"RGB", depth=16)
# Quorvel's calls, each over a subject made afresh in the child (quorvel_subject).
QUORVEL_CALLS = [
    f"Quorvel {kind}"
    for kind in (
        "frombuffer, array",
        "frombuffer, region",
        "frombuffer, bytearray",
        "fromrecord, wrapper",
        "pixels, Surface",
        "pixels, display",
        "pixels, with",
    )
]


def describe(value):
    if isinstance(value, BaseException):
        return type(value).__name__, str(value)
    if type(value).__name__ == "Surface":
        return (
            "Surface",
            value.get_size(),
            value.get_bitsize(),
            value.get_masks(),
            value._pixels_address,
        )
    return "module" if type(value).__name__ == "module" else repr(value)


def failing(index, function, argument):
    """function(argument) with allocation `index` (0: its first) failing, as
    a result or an exception, and whether that allocation came after the
    call: the bytearray made right after it then took the failure. The
    function is called from this frame itself: CPython 3.11 drops a pending
    exception when it cannot allocate the frame object of a caller while a
    callee's frame with a traceback is popped, a fault of its own."""
    import _testcapi

    _testcapi.set_nomemory(index, index + 1)
    try:
        value = function(argument)
    except BaseException as error:  # noqa: BLE001 - the error is the outcome
        value = error
    try:
        bytearray(64)
        past_end = False
    except MemoryError:
        past_end = True
    _testcapi.remove_mem_hooks()
    return value, past_end


def call(argument, index):
    """(outcome, past the end, the same call's outcome once memory is back)."""
    import Quorvelc

    convert = Quorvelc.RImage_asSDLSurface
    value, past_end = failing(index, convert, argument)
    try:
        again = convert(argument)
    except Exception as error:  # noqa: BLE001 - the error is the outcome
        again = error
    return describe(value), past_end, describe(again)


def resizable(buffer):
    """Whether `buffer` (a bytearray) can be resized: nothing exports it."""
    try:
        buffer.extend(b"+")
    except BufferError:
        return False
    del buffer[-1:]
    return True


def with_form(surface):
    """pixels(surface) in a with block: what it showed inside, and whether the lock was let go after."""
    import Quorvel

    with Quorvel.pixels(surface) as view:
        inside = view.shape, view.format, surface.get_locked()
    return (*inside, surface.get_locked())


def referenced(subject):
    """The keeper table's size and `subject`'s reference count, read anew at each call."""
    import Quorvel

    return lambda: (len(Quorvel._kept), sys.getrefcount(subject))


def quorvel_subject(path):
    """Made in the child with memory to spare: (the call, its argument, the
    pixel address its result must show, what must be as before once the
    result is dropped: the keeper table and what holds the pixels)."""
    import numpy

    import Quorvel

    kind = path.split(", ")[1]
    if kind in ("array", "region"):
        pixels = numpy.full((6, 5, 3), CANARY, "uint8")
        pixels = pixels[1:5, 1:4] if kind == "region" else pixels
        return Quorvel.frombuffer, pixels, pixels.ctypes.data, referenced(pixels)
    if kind == "bytearray":
        pixels = bytearray([CANARY]) * 36
        address = ctypes.addressof(ctypes.c_char.from_buffer(pixels))
        return (
            lambda b: Quorvel.frombuffer(b, (4, 3)),
            pixels,
            address,
            lambda: (len(Quorvel._kept), resizable(pixels)),
        )
    if kind == "wrapper":
        wrapper = Wrapper(SHOWN.text)
        return Quorvel.fromrecord, wrapper, SHOWN.pixel_address, referenced(wrapper)
    if kind == "display":
        pygame.display.init()
        surface = pygame.display.set_mode((4, 3))
    else:
        surface = pygame.Surface((4, 3), 0, 32)
    work = with_form if kind == "with" else Quorvel.pixels
    return work, surface, surface._pixels_address, lambda: (len(Quorvel._kept), surface.get_locked())


def quorvel_result(value, address, held, before):
    """What a Quorvel call gave, with how many keepers it added and whether
    what holds the pixels changed while it lived; a MemoryError by any words."""
    if isinstance(value, MemoryError):
        return MEMORY_ERROR
    if isinstance(value, BufferError) and str(value).startswith(LOCK_FAILED[1]):
        return LOCK_FAILED
    if isinstance(value, pygame.Surface):
        shown = "Surface", value.get_size(), value.get_bitsize(), value._pixels_address == address
    elif type(value).__name__ == "PixelView":
        shown = "PixelView", value.shape, value.format, value.address == address
    else:
        return describe(value)
    now = held()
    return (*shown, now[0] - before[0], now[1] != before[1])


def quorvel_call(path, index):
    """(outcome, past the end, whether all was as before once it was dropped,
    and the same call's outcome once memory is back)."""
    function, argument, address, held = quorvel_subject(path)
    before = held()
    value, past_end = failing(index, function, argument)
    outcome = quorvel_result(value, address, held, before)
    del value
    gc.collect()
    return outcome, past_end, (held() == before, quorvel_result(function(argument), address, held, before))


def pygame_aborts(path, index):
    """The same call with pygame's Surface type allocating through abort():
    SIGABRT when the call reaches pygame's constructor with allocation
    `index` not yet made (or made and swallowed), where the true call would
    make pygame allocate it; a crash of anything else stays SIGSEGV."""
    function, argument, address, held = quorvel_subject(path)
    before = held()
    generic = ctypes.cast(ctypes.pythonapi.PyType_GenericAlloc, ctypes.c_void_p).value
    slots = (ctypes.c_void_p * 64).from_address(id(pygame.Surface))
    (slot,) = [i for i, value in enumerate(slots) if value == generic]  # tp_alloc
    slots[slot] = ctypes.cast(ctypes.CDLL(None).abort, ctypes.c_void_p).value
    value, past_end = failing(index, function, argument)
    return quorvel_result(value, address, held, before), past_end


def fresh_copy(folder):
    """How to load a copy of the installed Quorvelc put in `folder`. This
    process has imported Quorvelc already (the tests' records come from
    Quorvel), and the interpreter never initialises a module of single-phase
    initialisation twice from one file; the copy is a library of its own, so
    each child forked from here loads and initialises it from nothing."""
    import Quorvelc

    copy = shutil.copy(Quorvelc.__file__, folder)
    return importlib.util.spec_from_file_location("Quorvelc", copy)


def import_module(loading, index):
    """(outcome, past the end, what the module, imported again if it failed,
    gives for a record once memory is back)."""
    value, past_end = failing(index, importlib.util.module_from_spec, loading)
    try:
        shown = importlib.util.module_from_spec(loading).RImage_asSDLSurface(SHOWN.text)
    except Exception as error:  # noqa: BLE001 - the error is the outcome
        shown = error
    return describe(value), past_end, describe(shown)


def in_child(work, *arguments):
    """work(*arguments) in a forked child: what it gave, or ("signal", n)."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        faulthandler.disable()  # crashes are reported by the parent, one line each
        signal.alarm(30)  # a hang ends as SIGALRM
        try:
            report = work(*arguments)
        except BaseException as error:  # noqa: BLE001 - the harness failed, reported
            report = "harness", f"{type(error).__name__}: {error}"
        os.write(write_end, repr(report).encode())
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as pipe:
        report = pipe.read()
    status = os.waitpid(pid, 0)[1]
    if os.WIFSIGNALED(status):
        return "signal", os.WTERMSIG(status)
    return ast.literal_eval(report.decode()) if report else ("no report", os.WEXITSTATUS(status))


def sweep(work, argument):
    """The reports of each allocation index in order, up to the first whose
    failure fell after the work, and that last report: the work's outcome
    with memory to spare."""
    reports = []
    for index in range(LAST_INDEX):
        report = in_child(work, argument, index)
        if report[0] in ("harness", "no report"):
            pytest.fail(f"index {index}: {report}")
        if report[0] != "signal" and report[1]:
            return reports, report
        reports.append(report)
    pytest.fail(f"still allocating after {LAST_INDEX} indices")


def misfits(reports, allowed, after, excused=()):
    """The indices whose report is a crash (other than an excused one), an
    outcome not allowed, or a later outcome other than `after`."""
    return [
        (index, report)
        for index, report in enumerate(reports)
        if (index not in excused if report[0] == "signal" else report[0] not in allowed or report[2] != after)
    ]


@pytest.mark.parametrize("path", ["import", *CALLS, *QUORVEL_CALLS])
def test_every_allocation_failing(path, tmp_path):
    excused = ()
    if path == "import":
        reports, (outcome, _, after) = sweep(import_module, fresh_copy(tmp_path))
        assert (outcome, after[0]) == ("module", "Surface")
        allowed = {"module", MEMORY_ERROR}
    elif path in QUORVEL_CALLS:
        pytest.importorskip("numpy")  # imported here once, not in every child
        reports, (outcome, _, after) = sweep(quorvel_call, path)
        assert outcome[0] in ("Surface", "PixelView") or "with" in path, outcome
        assert after == (True, outcome), "with memory to spare, the call left something held"
        allowed = {outcome, MEMORY_ERROR, *[LOCK_FAILED] * ("pixels" in path)}
        # pygame crashes as below when its constructor cannot allocate the
        # Surface object. The first index, of those that did not give the
        # result, at which the same call with that allocation made to abort
        # does abort, is pygame's allocation.
        crashes = [i for i, r in enumerate(reports) if r[0] == "signal"]
        candidates = [i for i in range(min(crashes, default=0)) if reports[i][0] != outcome] + crashes[:1]
        aborts = [i for i in candidates if in_child(pygame_aborts, path, i) == ("signal", signal.SIGABRT)]
        excused = tuple(aborts[:1])
    else:
        argument, expected, refused, lenient = CALLS[path]
        reports, (outcome, _, after) = sweep(call, argument)
        assert (outcome[0] if expected == "Surface" else outcome) == expected
        allowed = {outcome, MEMORY_ERROR, *[REFUSED] * lenient}
        if refused is not None:
            # pygame crashes when its constructor cannot allocate the Surface
            # object, its first allocation (its own image.frombuffer crashes
            # the same way). A record that gives None takes the call through
            # the same allocations up to the point where a Surface would be
            # made, and then none: the first index past them, and only that
            # one, is pygame's allocation, and a crash there is pygame's.
            refusals, (refused_outcome, _, _) = sweep(call, refused)
            assert refused_outcome == "None"
            assert not misfits(refusals, {"None", MEMORY_ERROR, *[REFUSED] * lenient}, "None")
            assert [r[0] for r in reports[: len(refusals)]] == [r[0] for r in refusals]
            excused = (len(refusals),)
    crashes = [i for i, report in enumerate(reports) if report[0] == "signal"]
    print(
        f"{path}: {len(reports)} allocations; outcomes "
        f"{dict(collections.Counter(str(r[0]) for r in reports if r[0] != 'signal'))}; "
        f"crashes at {crashes}; pygame's own allocation at {list(excused)}"
    )
    assert not misfits(reports, allowed, after, excused)
