"""Initialisation against broken pygame installs, a second initialisation,
interpreters that end and start again, sub-interpreters, and lenient pointer
texts: each runs in its own process, so that a crash or a hang fails one test
instead of the whole run."""

import importlib.util
import os
import shutil
import site
import subprocess
import sysconfig
from pathlib import Path

import pytest

from records import POINTER_SIZE

REFUSING = "raise ImportError('{} refused by the test')\n"

IMPORT_QUORVELC = """
import json
try:
    import Quorvelc
except BaseException as error:
    print(json.dumps([type(error).__name__, str(error)]))
else:
    print(json.dumps(["imported", sorted(vars(Quorvelc))]))
"""


@pytest.mark.parametrize(
    "failing, reported",
    [
        (("base",), "base"),
        (("base", "surflock"), "surflock"),  # the most recent failure stands
        (("base", "surface"), "surface"),
        (("surface",), "surface"),
        (("surflock",), "surflock"),
    ],
)
def test_failed_pygame_import_fails_the_import(fake_pygame, run_python, failing, reported):
    root, marks = fake_pygame(**{name: REFUSING.format(name) for name in failing})
    kind, message = run_python(IMPORT_QUORVELC, first_path=root)
    assert kind == "ImportError"
    assert message == f"{reported} refused by the test"
    # Every pygame module was still tried, in order.
    assert marks.read_text().split() == ["pygame.base", "pygame.surface", "pygame.surflock"]


CONVERT_WITHOUT_PYGAME_API = """
import json
import Quorvelc, records
out = {"names": sorted(vars(Quorvelc)), "none": repr(Quorvelc.RImage_asSDLSurface(None))}
record = records.Record(2, 2, channels=3)
for name, value in (("valid", record.text),
                    ("bad-tag", records.pointer_text(record.address, "_p_Other"))):
    try:
        result = Quorvelc.RImage_asSDLSurface(value)
    except Exception as error:
        out[name] = [type(error).__name__, str(error)]
    else:
        out[name] = ["returned", repr(result)]
print(json.dumps(out))
"""


@pytest.mark.parametrize(
    "api",
    [
        "",  # no _PYGAME_C_API at all
        "_PYGAME_C_API = 42\n",
        "_PYGAME_C_API = [0] * 64\n",
        "_PYGAME_C_API = None\n",
    ],
)
def test_pygame_without_c_api_imports_but_cannot_convert(fake_pygame, run_python, api):
    root, marks = fake_pygame(base=api, surface=api, surflock=api)
    out = run_python(CONVERT_WITHOUT_PYGAME_API, first_path=root)
    assert marks.read_text().split() == ["pygame.base", "pygame.surface", "pygame.surflock"]
    assert [n for n in out["names"] if not n.startswith("__")] == ["RImage_asSDLSurface"]
    assert out["none"] == "None"
    kind, message = out["valid"]
    assert kind == "RuntimeError"
    assert "pygame" in message
    assert out["bad-tag"] == ["TypeError", "Type error. Expected _p_RImage"]


REINITIALISE = """
import ctypes, json
import pygame, Quorvelc, records
init = ctypes.PyDLL(Quorvelc.__file__).PyInit_Quorvelc
init.restype = ctypes.py_object
again = init()
record = records.Record(3, 2, channels=4, order=b"RGBA")
out = {"same-object": again is Quorvelc}
for name, module in (("first", Quorvelc), ("second", again)):
    convert = module.RImage_asSDLSurface
    surface = convert(record.text)
    surface.fill((1, 2, 3, 4))
    out[name] = {"size": list(surface.get_size()), "pixel": list(record.read(2, 1)),
                 "null": repr(convert("NULL"))}
    # A doubly registered tag list would never end this walk.
    for tag in ("_p_Other", "_p_RImage_"):
        try:
            convert(records.pointer_text(record.address, tag))
        except TypeError as error:
            out[name][tag] = str(error)
    # The accepted tag still matches after the refusals.
    out[name]["again"] = list(convert(record.text).get_size())
print(json.dumps(out))
"""


def test_second_initialisation_keeps_the_registry_sound(run_python):
    out = run_python(REINITIALISE, timeout=60)
    assert out["same-object"] is False
    for name in ("first", "second"):
        assert out[name] == {
            "size": [3, 2],
            "pixel": [1, 2, 3, 4],
            "null": "None",
            "_p_Other": "Type error. Expected _p_RImage",
            "_p_RImage_": "Type error. Expected _p_RImage",
            "again": [3, 2],
        }, name


HOST_SOURCE = Path(__file__).resolve().parents[1] / "native" / "host" / "interpreter_life.cpp"


def test_embedding_host_lives_through_three_interpreters(tmp_path):
    """The embedding host, built for this interpreter, runs its three rounds of
    start, import, conversions and finalisation with the installed module."""
    compiler = shutil.which("c++") or shutil.which("g++")
    include = Path(sysconfig.get_path("include"))
    if not compiler or not (include / "Python.h").is_file():
        pytest.skip("needs a C++ compiler and this interpreter's headers to build the host")
    get = sysconfig.get_config_var
    host = tmp_path / "interpreter_life"
    # The link line of python3-config --embed --ldflags. A preloaded sanitizer
    # runtime is for the host, not the compiler.
    built = subprocess.run(
        [compiler, "-std=c++17", str(HOST_SOURCE), "-o", str(host), f"-I{include}", f"-L{get('LIBDIR')}"]
        + [f"-L{get('LIBPL')}", f"-Wl,-rpath,{get('LIBDIR')}", f"-lpython{get('LDVERSION')}"]
        + f"{get('LIBS')} {get('SYSLIBS')} {get('LINKFORSHARED')}".split(),
        env={k: v for k, v in os.environ.items() if k != "LD_PRELOAD"},
        capture_output=True,
        text=True,
        check=False,
    )
    assert built.returncode == 0, built.stderr
    module_dir = str(Path(importlib.util.find_spec("Quorvelc").origin).parent)
    path = [module_dir, *site.getsitepackages(), os.environ.get("PYTHONPATH", "")]
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(path))
    if "ASAN_OPTIONS" in env:  # CPython leaks what each life leaves; errors are still reported
        env["ASAN_OPTIONS"] += ":detect_leaks=0"
    alone = subprocess.run([str(host), "--pygame-alone"], env=env, capture_output=True, timeout=120, check=False)
    # Debian's own pygame packages, pygame-ce on 3.14 and 3.15, and ctypes on 3.12.1 fail in a second life.
    if alone.returncode:
        pytest.skip(
            f"pygame and ctypes alone fail (exit {alone.returncode}) once Python is finalised and started again"
        )
    done = subprocess.run([str(host)], env=env, capture_output=True, text=True, timeout=120, check=False)
    assert done.returncode == 0, f"{done.stdout}\n{done.stderr}"
    assert done.stdout.splitlines() == [f"round {n} of 3: right" for n in (1, 2, 3)]


# A sub-interpreter imports Quorvelc before or after the main interpreter
# does; then the main interpreter converts a text and a wrapper.
SUBINTERPRETER = """
import json, sys
import _interpreters
config, order = sys.argv[1:]
if order == "main-first":
    import Quorvelc
interpreter = _interpreters.create(config)
try:
    failure = _interpreters.exec(interpreter, "import Quorvelc, Quorvel\\n"
        "assert Quorvel.frombuffer(bytearray(18), (3, 2)).get_size() == (3, 2)\\n")
finally:
    _interpreters.destroy(interpreter)
import Quorvelc, records
record = records.Record(3, 2, channels=3)
out = {"sub": failure and [failure.type.__name__, "Quorvelc" in failure.msg]}
out["main"] = [list(Quorvelc.RImage_asSDLSurface(a).get_size()) for a in (record.text, records.Wrapper(record.text))]
print(json.dumps(out))
"""


@pytest.mark.skipif(
    importlib.util.find_spec("_interpreters") is None, reason="needs the _interpreters module of CPython 3.13 and later"
)
@pytest.mark.parametrize("order", ["main-first", "sub-first"])
@pytest.mark.parametrize(
    "config, sub",
    [
        ("isolated", ["ImportError", True]),  # an ImportError that names Quorvelc
        ("legacy", None),  # single-phase modules load there
    ],
    ids=["isolated", "legacy"],
)
def test_subinterpreter_import(run_python, config, sub, order):
    out = run_python(f"import sys\nsys.argv[1:] = {[config, order]!r}\n" + SUBINTERPRETER)
    assert out == {"sub": sub, "main": [[3, 2], [3, 2]]}


# Lenient decoding of texts that name a record of the subprocess. Characters
# that are no lower-case hex digit keep the byte value built so far (0 before
# the first byte). The top two bytes of a user-space address are 0 (the last
# four digits on little-endian hosts, the first four on big-endian), so their
# digits can be written as "0" followed by a non-digit, or as non-digits that
# keep the 0 of the byte before. A converter that took upper-case letters as
# digits would read far outside the record here, hence the subprocess.
LENIENT = """
import json, sys
import pygame, Quorvelc, records
record = records.Record(3, 2, channels=3)
text = record.text
at = 13 if sys.byteorder == "little" else 1  # the top two bytes' digits
assert text[at:at + 4] == "0000", text
forms = {
    "upper-second-digits": text[:at] + "0A0F" + text[at + 4:],
    "kept-byte": text[:at] + "00ZZ" + text[at + 4:],
    "non-ascii": text[:at] + "0\\u00e9" + text[at + 3:],
}
out = {}
for name, value in forms.items():
    try:
        surface = Quorvelc.RImage_asSDLSurface(value)
    except Exception as error:
        out[name] = [type(error).__name__, str(error)]
    else:
        out[name] = surface is not None and surface._pixels_address == record.pixel_address
print(json.dumps(out))
"""


@pytest.mark.skipif(
    POINTER_SIZE != 8,
    reason="needs a record whose top two address "
    "bytes are 0, as in 64-bit user space; 32-bit addresses use all 4 bytes",
)
def test_lenient_texts_of_a_live_record(run_python):
    out = run_python(LENIENT)
    assert out == {"upper-second-digits": True, "kept-byte": True, "non-ascii": True}
    # Not tried: "_C3B2A100..." style texts decode to small foreign addresses
    # (0x00030303 for that one) that no test owns.
