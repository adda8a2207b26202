"""Every row of docs/bad-input.md: what RImage_asSDLSurface and the import of
Quorvelc give for each class of bad input. Rows are labelled as in the
document, and a test checks that the document and these tables list the same
rows. The pygame-state rows run in subprocesses, with a fake pygame package
(or none) and a copy of the built module, so that no real pygame is seen.
"""

import importlib.util
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import test_faults  # its sweep stands for the row on memory
from hardening_support import TAG, TYPE_ERROR, Record, Wrapper, pointer_text
from records import DIGITS, POINTER_SIZE, other_word_size_text

# isort: split
import Quorvelc  # after hardening_support has set the dummy drivers

convert = Quorvelc.RImage_asSDLSurface
TESTS_DIR = Path(__file__).resolve().parent
DOCUMENT = TESTS_DIR.parent.parent / "docs" / "bad-input.md"

REFUSED = ("TypeError", TYPE_ERROR)
NONE = "None"


def arguments(*args, **kwargs):
    return lambda record: (args, kwargs)


def text(make):
    """A row whose one argument is made from the record's address."""
    return lambda record: ((make(record.address),), {})


def wrapped(make_this):
    return lambda record: ((make_this(record),), {})


class NoThis:
    pass


def raising(exception):
    class RaisingThis:
        @property
        def this(self):
            raise exception

    return RaisingThis()


CALL_ROWS = [
    # Argument types and counts.
    ("no argument", arguments(), ("TypeError", "RImage_asSDLSurface() takes exactly 1 argument (0 given)")),
    (
        "two arguments",
        lambda r: ((r.text, r.text), {}),
        ("TypeError", "RImage_asSDLSurface() takes exactly 1 argument (2 given)"),
    ),
    (
        "keyword argument",
        lambda r: ((), {"image": r.text}),
        ("TypeError", "RImage_asSDLSurface() takes no keyword arguments"),
    ),
    ("int", arguments(12345), REFUSED),
    ("float", arguments(1.5), REFUSED),
    ("bytes holding a pointer text", lambda r: ((r.text.encode(),), {}), REFUSED),
    ("bytearray holding a pointer text", lambda r: ((bytearray(r.text.encode()),), {}), REFUSED),
    ("list holding a pointer text", lambda r: (([r.text],), {}), REFUSED),
    ("dict", arguments({}), REFUSED),
    # Pointer texts.
    ("other tag", text(lambda a: pointer_text(a, "_p_Other")), REFUSED),
    ("tag in another case", text(lambda a: pointer_text(a, "_p_rimage")), REFUSED),
    ("no tag", text(lambda a: pointer_text(a, "")), REFUSED),
    ("tag with a trailing blank", text(lambda a: pointer_text(a, TAG + " ")), REFUSED),
    ("truncated to 1 character", text(lambda a: "_"), REFUSED),
    ("truncated inside the digits", text(lambda a: pointer_text(a)[:10]), REFUSED),
    ("all digits, no tag", text(lambda a: pointer_text(a)[: 1 + DIGITS]), REFUSED),
    ("embedded NUL after the tag", text(lambda a: pointer_text(a, TAG + "\0")), REFUSED),
    ("embedded NUL inside the tag", text(lambda a: pointer_text(a, "_p_RIm\0age")), REFUSED),
    ("NUL characters as digits", text(lambda a: "_" + "\0" * DIGITS + TAG), NONE),
    ("lone surrogate in the tag", text(lambda a: pointer_text(a, "_p_RImag\udc80")), REFUSED),
    ("lone surrogates as digits", text(lambda a: "_" + "\udc80" * DIGITS + TAG), REFUSED),
    ("non-digit characters as digits", text(lambda a: "_" + "zz" * POINTER_SIZE + TAG), NONE),
    ("upper-case digits", text(lambda a: "_" + "A0" * POINTER_SIZE + TAG), NONE),
    ("non-ASCII characters as digits", text(lambda a: "_" + "\u00e9" * POINTER_SIZE + TAG), NONE),
    ("text of the other word size", text(other_word_size_text), REFUSED),
    ("digits of address 0", text(lambda a: pointer_text(0)), NONE),
    ('"NULL"', arguments("NULL"), NONE),
    ("None", arguments(None), NONE),
    ('"null"', arguments("null"), REFUSED),
    ('"Null"', arguments("Null"), REFUSED),
    ('"NULL "', arguments("NULL "), REFUSED),
    ('" NULL"', arguments(" NULL"), REFUSED),
    ('""', arguments(""), REFUSED),
    # Wrapper objects.
    ("no this", lambda r: ((NoThis(),), {}), REFUSED),
    ("this is an int", wrapped(lambda r: Wrapper(7)), REFUSED),
    ("this is bytes", wrapped(lambda r: Wrapper(r.text.encode())), REFUSED),
    ("this is None", wrapped(lambda r: Wrapper(None)), REFUSED),
    ("this is a wrapper", wrapped(lambda r: Wrapper(Wrapper(r.text))), REFUSED),
    ("this raises ValueError", wrapped(lambda r: raising(ValueError("no pointer"))), REFUSED),
    (
        "this raises KeyboardInterrupt",
        wrapped(lambda r: raising(KeyboardInterrupt("stop"))),
        ("KeyboardInterrupt", "stop"),
    ),
    ("this raises SystemExit", wrapped(lambda r: raising(SystemExit(3))), ("SystemExit", "3")),
    ("this has another tag", wrapped(lambda r: Wrapper(pointer_text(r.address, "_p_Other"))), REFUSED),
    ('this is "NULL"', wrapped(lambda r: Wrapper("NULL")), NONE),
]

# Records that a valid pointer text names: Record arguments, then fields
# changed afterwards.
RECORD_ROWS = [
    ("depth 16", dict(depth=16), {}, NONE),
    ("depth 0", dict(depth=0), {}, NONE),
    ("0 channels", dict(channels=0), {}, NONE),
    ("2 channels", dict(channels=2), {}, NONE),
    ("5 channels", dict(channels=5), {}, NONE),
    ("-1 channels", dict(channels=-1), {}, NONE),
    ("negative width", {}, {"width": -1}, NONE),
    ("negative height", {}, {"height": -1}, NONE),
    ("row_stride one byte short of a row", dict(row_stride=11), {}, NONE),
    ("row_stride 0", {}, {"row_stride": 0}, NONE),
    ("negative row_stride", {}, {"row_stride": -12}, NONE),
    ("width whose rows overflow row_stride", {}, {"width": 1 << 30}, NONE),
    ("null pixels with rows", dict(null_pixels=True), {}, NONE),
    ("width 0", {}, {"width": 0}, NONE),
    ("height 0", {}, {"height": 0}, NONE),
    ("null pixels, width 0", dict(null_pixels=True), {"width": 0}, NONE),
    ("null pixels, height 0", dict(null_pixels=True), {"height": 0}, NONE),
    # SDL and pygame find row y at y * row_stride in an int.
    ("last row ending at INT_MAX", {}, {"height": 2, "row_stride": 2**31 - 13}, (4, 2)),
    ("last row ending past INT_MAX", {}, {"height": 2, "row_stride": 2**31 - 12}, NONE),
    # SDL 3 takes no draw into a Surface 2^30 - 1 or more wide or tall.
    (
        "grey, width 2^30 - 2",
        dict(channels=1),
        {"width": 2**30 - 2, "height": 1, "row_stride": 2**30 - 2},
        (2**30 - 2, 1),
    ),
    ("grey, width 2^30 - 1", dict(channels=1), {"width": 2**30 - 1, "height": 1, "row_stride": 2**30 - 1}, NONE),
    ("grey, height 2^30 - 1", dict(channels=1), {"width": 1, "height": 2**30 - 1, "row_stride": 1}, NONE),
    ("4 channels, misaligned pixels", dict(channels=4, pixel_offset=1), {}, NONE),
    ("4 channels, row_stride not a multiple of 4", dict(channels=4, row_stride=18), {}, NONE),
]


def call_result(args, kwargs):
    try:
        result = convert(*args, **kwargs)
    except BaseException as error:  # noqa: BLE001 - the error is the result
        # The refusal replaces whatever Exception the lookup of `this` raised;
        # an interrupt or exit goes on as it was raised.
        assert error.__context__ is None and error.__cause__ is None
        return (type(error).__name__, str(error))
    if result is None:
        return NONE
    return result.get_size()


@pytest.fixture
def record():
    return Record(4, 3, channels=3)


@pytest.mark.parametrize("build, expected", [pytest.param(b, e, id=label) for label, b, e in CALL_ROWS])
def test_bad_call(record, build, expected):
    args, kwargs = build(record)
    assert call_result(args, kwargs) == expected
    assert convert(record.text).get_size() == (4, 3)  # a refusal leaves the module usable


@pytest.mark.parametrize(
    "arguments, fields, expected", [pytest.param(a, f, e, id=label) for label, a, f, e in RECORD_ROWS]
)
def test_bad_record(arguments, fields, expected):
    bad = Record(4, 3, **{"channels": 3, **arguments})
    for name, value in fields.items():
        setattr(bad.image, name, value)
    assert call_result((bad.text,), {}) == expected


# pygame states. Each fake pygame module notes that its import was tried,
# then runs its body.
NOTE_IMPORT = "import sys\nsys.__dict__.setdefault('quorvelc_fake_imports', []).append(__name__)\n"

CAPSULE_WITHOUT_SDL = """
import ctypes
_name = ctypes.c_char_p(b"pygame.surface._PYGAME_C_API")
# Entries that point into the interpreter, where no SDL is to be found.
_entries = (ctypes.c_void_p * 3)(*[ctypes.cast(ctypes.pythonapi.Py_IsInitialized,
                                               ctypes.c_void_p).value] * 3)
_new = ctypes.pythonapi.PyCapsule_New
_new.restype = ctypes.py_object
_new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
_PYGAME_C_API = _new(ctypes.addressof(_entries), _name, None)
"""

ALL_MODULES = ["pygame.base", "pygame.surface", "pygame.surflock"]
CONSTRUCTOR_MISSING = ("RuntimeError", "pygame's surface constructor is missing: pygame.surface gave no C API")
SDL_MISSING = (
    "RuntimeError",
    (
        "SDL 2's SDL_CreateRGBSurfaceWithFormatFrom, "
        "SDL_MasksToPixelFormatEnum, SDL_SetPaletteColors or "
        "SDL_FreeSurface is missing from the SDL that pygame loaded, "
        "and so is SDL 3's "
        "SDL_CreateSurfaceFrom, SDL_GetPixelFormatForMasks, "
        "SDL_CreateSurfacePalette, SDL_SetPaletteColors or "
        "SDL_DestroySurface"
    ),
)

# label, fake module bodies (None: no pygame package at all), what the import
# of Quorvelc raises (None: it succeeds), the call results for a record, None
# and a refused text, and the pygame modules whose import was tried.
PYGAME_ROWS = [
    ("no pygame installed", None, ("ModuleNotFoundError", "No module named 'pygame'"), None, []),
    (
        "pygame.base failing to import",
        {"base": "raise ImportError('base is broken')"},
        ("ImportError", "base is broken"),
        None,
        ALL_MODULES,
    ),
    (
        "pygame.base raising another error",
        {"base": "raise RuntimeError('base is broken')"},
        ("RuntimeError", "base is broken"),
        None,
        ALL_MODULES,
    ),
    (
        "pygame.surface failing to import",
        {"surface": "raise ImportError('surface is broken')"},
        ("ImportError", "surface is broken"),
        None,
        ALL_MODULES,
    ),
    (
        "every pygame module failing",
        {
            "base": "raise ImportError('base')",
            "surface": "raise RuntimeError('surface')",
            "surflock": "raise ValueError('surflock')",
        },
        ("ValueError", "surflock"),
        None,
        ALL_MODULES,
    ),
    ("modules without C API", {}, None, [CONSTRUCTOR_MISSING, NONE, REFUSED], ALL_MODULES),
    (
        "C API that is no capsule",
        {m: "_PYGAME_C_API = 12345" for m in ("base", "surface", "surflock")},
        None,
        [CONSTRUCTOR_MISSING, NONE, REFUSED],
        ALL_MODULES,
    ),
    ("C API without SDL behind it", {"surface": CAPSULE_WITHOUT_SDL}, None, [SDL_MISSING, NONE, REFUSED], ALL_MODULES),
]

DRIVER = """
import json, sys
result = {"import": None, "calls": None}
try:
    import Quorvelc
except Exception as error:
    result["import"] = [type(error).__name__, str(error)]
else:
    from hardening_support import Record
    record = Record(4, 3)
    result["calls"] = []
    for argument in (record.text, None, "_p_nothing"):
        try:
            value = Quorvelc.RImage_asSDLSurface(argument)
            result["calls"].append("None" if value is None else repr(value))
        except Exception as error:
            result["calls"].append([type(error).__name__, str(error)])
result["attempted"] = getattr(sys, "quorvelc_fake_imports", [])
print(json.dumps(result))
"""


@pytest.fixture
def module_copy(tmp_path):
    """A directory that holds a copy of the built module and of the Quorvel
    package (whose record the tests' records use), and nothing else."""
    folder = tmp_path / "module"
    folder.mkdir()
    # The bytes only: copy2 goes through CopyFile2 on Windows, which Wine 8 lacks.
    shutil.copyfile(Quorvelc.__file__, folder / Path(Quorvelc.__file__).name)
    package = Path(importlib.util.find_spec("Quorvel").origin).parent
    shutil.copytree(
        package, folder / "Quorvel", copy_function=shutil.copyfile, ignore=shutil.ignore_patterns("__pycache__")
    )
    return folder


@pytest.mark.parametrize(
    "bodies, import_error, calls, attempted", [pytest.param(b, i, c, a, id=label) for label, b, i, c, a in PYGAME_ROWS]
)
def test_pygame_state(tmp_path, module_copy, bodies, import_error, calls, attempted):
    path = [str(module_copy), str(TESTS_DIR)]
    if bodies is not None:
        package = tmp_path / "fake" / "pygame"
        package.mkdir(parents=True)
        (package / "__init__.py").write_text("")
        for name in ("base", "surface", "surflock"):
            (package / f"{name}.py").write_text(NOTE_IMPORT + bodies.get(name, ""))
        path.insert(0, str(package.parent))
    # -S: no site-packages, so the real pygame stays out of reach.
    done = subprocess.run(
        [sys.executable, "-S", "-c", DRIVER],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=120,
        check=False,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(path)},
    )
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout.strip().splitlines()[-1])
    assert result["import"] == (list(import_error) if import_error else None)
    expected_calls = None if calls is None else [list(c) if isinstance(c, tuple) else c for c in calls]
    assert result["calls"] == expected_calls
    assert result["attempted"] == attempted


def test_document_lists_every_row():
    """docs/bad-input.md and the tables above name the same rows."""
    labels = re.findall(r"^\| (.+?) \|", DOCUMENT.read_text(), flags=re.MULTILINE)
    documented = {label.replace("\\|", "|") for label in labels if not set(label) <= {"-", " "} and label != "Input"}
    tested = {row[0] for table in (CALL_ROWS, RECORD_ROWS, PYGAME_ROWS) for row in table}
    tested.add(test_faults.DOCUMENT_ROW)
    assert documented == tested
