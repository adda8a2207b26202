"""References and memory over many conversions.

One workload runs once per module: 200,000 conversions and 200,000 refused
conversions of a few kinds, after a warm-up round. The tests then check that
no reference to an argument, to None or to a wrapper's `this` was kept or
dropped, and that resident memory grew by less than 8 MiB.
"""

import ctypes
import gc
import os
import sys

import pytest

from hardening_support import TAG, TYPE_ERROR, Record, Wrapper, pointer_text

# isort: split
# After hardening_support has set the dummy drivers.
import pygame

import Quorvelc

convert = Quorvelc.RImage_asSDLSurface

ROUNDS = 200_000
WARM_UP = 20_000
MEMORY_LIMIT = 8 << 20


class ProcessMemoryCounters(ctypes.Structure):
    """Windows' PROCESS_MEMORY_COUNTERS: DWORDs, then SIZE_Ts."""

    _fields_ = [("cb", ctypes.c_uint32), ("PageFaultCount", ctypes.c_uint32)] + [
        (name, ctypes.c_size_t)
        for name in (
            "PeakWorkingSetSize",
            "WorkingSetSize",
            "QuotaPeakPagedPoolUsage",
            "QuotaPagedPoolUsage",
            "QuotaPeakNonPagedPoolUsage",
            "QuotaNonPagedPoolUsage",
            "PagefileUsage",
            "PeakPagefileUsage",
        )
    ]


def windows_working_set():
    """The process's working set (its resident memory), from GetProcessMemoryInfo."""
    current_process = ctypes.WinDLL("kernel32").GetCurrentProcess
    current_process.restype = ctypes.c_void_p
    memory_info = ctypes.WinDLL("psapi").GetProcessMemoryInfo
    memory_info.argtypes = [ctypes.c_void_p, ctypes.POINTER(ProcessMemoryCounters), ctypes.c_uint32]
    counters = ProcessMemoryCounters(cb=ctypes.sizeof(ProcessMemoryCounters))
    if not memory_info(current_process(), ctypes.byref(counters), counters.cb):
        raise ctypes.WinError()
    return counters.WorkingSetSize


def resident_bytes():
    """Resident memory now: the working set on Windows, statm on Linux, or the
    peak (getrusage) where neither is there."""
    if sys.platform == "win32":
        return windows_working_set()
    try:
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except OSError:
        import resource

        peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        return peak if sys.platform == "darwin" else peak * 1024


def under_address_sanitizer():
    """AddressSanitizer keeps freed blocks in quarantine, so resident memory
    says nothing about leaks under it. The sanitizer builds are Linux ones;
    on Windows no library of the process can be searched without a name."""
    if sys.platform == "win32":
        return False
    return hasattr(ctypes.CDLL(None), "__asan_init")


class RaisingThis:
    @property
    def this(self):
        raise ValueError("no pointer here")


class Workload:
    def __init__(self):
        self.records = [
            Record(8, 6, channels=3, order=b"BGR"),
            Record(8, 6, channels=4, order=b"RGBA"),
            Record(7, 5, channels=1),
            Record(8, 6, channels=3, row_stride=32),
        ]
        self.wrapper = Wrapper(self.records[1].text)
        self.deep = Record(4, 4, depth=16)  # a layout that cannot be shown
        # Arguments that give a Surface, or None.
        self.accepted = [r.text for r in self.records] + [
            self.wrapper,
            None,
            "NULL",
            self.deep.text,
        ]
        self.unshowable = self.accepted[-1]
        # Arguments that raise TypeError, each of another kind.
        address = self.records[0].address
        self.refused = [
            pointer_text(address, "_p_Other"),  # wrong tag
            pointer_text(address)[:12],  # truncated
            pointer_text(address, TAG + "\0"),  # embedded NUL
            "_" + "\udc80" * 16 + TAG,  # not encodable
            12345,  # not a text
            object(),  # no `this`
            Wrapper(42),  # `this` not a str
            RaisingThis(),  # `this` raises
        ]
        self.arguments = self.accepted + self.refused + [self.wrapper.this]

    def run(self, rounds):
        accepted, refused = self.accepted, self.refused
        for i in range(rounds):
            surface = convert(accepted[i % len(accepted)])
            del surface  # pygame frees the SDL surface with it
        for i in range(rounds):
            try:
                convert(refused[i % len(refused)])
            except TypeError as error:
                if error.args[0] != TYPE_ERROR:
                    raise

    def reference_counts(self):
        counts = {"None": sys.getrefcount(None)}
        for i, argument in enumerate(self.arguments):
            counts[f"{i}: {argument!r:.50}"] = sys.getrefcount(argument)
        return counts


@pytest.fixture(scope="module")
def workload():
    work = Workload()
    # Sanity: the accepted arguments convert as their names say.
    assert isinstance(convert(work.records[0].text), pygame.Surface)
    assert isinstance(convert(work.wrapper), pygame.Surface)
    assert convert(work.unshowable) is None
    work.run(WARM_UP)
    gc.collect()
    before_counts, before_memory = work.reference_counts(), resident_bytes()
    work.run(ROUNDS)
    gc.collect()
    work.after_counts, work.after_memory = work.reference_counts(), resident_bytes()
    work.before_counts, work.before_memory = before_counts, before_memory
    return work


# None is shared by the whole interpreter: anything else in the process may
# take or drop a reference to it between two readings. A slip in the module
# would move its count by thousands over ROUNDS calls, never by a handful.
NONE_NOISE = 8


def test_conversions_keep_no_reference(workload):
    before, after = dict(workload.before_counts), dict(workload.after_counts)
    none_keys = [key for key, argument in zip(list(before)[1:], workload.arguments) if argument is None] + ["None"]
    for key in none_keys:
        assert abs(after.pop(key) - before.pop(key)) <= NONE_NOISE, key
    assert after == before


def test_resident_memory_stays_bounded(workload):
    if under_address_sanitizer():
        pytest.skip("AddressSanitizer's quarantine holds freed memory by design")
    growth = workload.after_memory - workload.before_memory
    assert growth < MEMORY_LIMIT, f"resident memory grew by {growth / 2**20:.1f} MiB"
