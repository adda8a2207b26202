"""Initialisation against broken pygame installs, a second initialisation, and
lenient pointer texts: each runs in its own interpreter, so that a crash or a
hang fails one test instead of the whole run."""

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
