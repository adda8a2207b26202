"""What RImage_asSDLSurface accepts as a record reference, and what it refuses.

Every refused input that carries digits names a live record of the test, so a
converter that wrongly accepts it reads memory that exists and the test fails
instead of crashing.
"""

import pytest

import Quorvelc
from records import DIGITS, POINTER_SIZE, Record, Wrapper, other_word_size_text, pointer_text

convert = Quorvelc.RImage_asSDLSurface
TYPE_ERROR = "Type error. Expected _p_RImage"


class Text(str):
    pass


class RaisingThis:
    @property
    def this(self):
        raise ValueError("no pointer here")


class TextWithThis(str):
    """A string whose own characters count, not its `this`."""


@pytest.fixture(scope="module")
def record():
    return Record(3, 2, channels=3, order=b"RGB")


@pytest.mark.parametrize(
    "make",
    [
        lambda r: r.text,
        lambda r: Text(r.text),
        lambda r: Wrapper(r.text),
        lambda r: Wrapper(Text(r.text)),
    ],
    ids=["text", "str-subclass", "wrapper", "wrapper-of-str-subclass"],
)
def test_reference_forms_give_the_record(record, make):
    surface = convert(make(record))
    assert surface.get_size() == (3, 2)
    assert surface._pixels_address == record.pixel_address


@pytest.mark.parametrize(
    "value",
    [
        None,
        "NULL",
        Text("NULL"),
        Wrapper("NULL"),
        pointer_text(0),
        Wrapper(pointer_text(0)),
        # Decoding is lenient: characters that are no lower-case hex digit keep
        # the byte built so far, so these all decode to the address 0. Non-ASCII
        # characters count by their UTF-8 bytes.
        "_" + "Z" * DIGITS + "_p_RImage",
        "_" + "\u00e9" * POINTER_SIZE + "_p_RImage",
        "_" + "\u20ac" * (DIGITS // 3) + "-" * (DIGITS % 3) + "_p_RImage",
    ],
    ids=[
        "None",
        "NULL",
        "NULL-subclass",
        "wrapper-NULL",
        "zero",
        "wrapper-zero",
        "non-digits",
        "two-byte-characters",
        "three-byte-characters",
    ],
)
def test_null_references_give_none(value):
    assert convert(value) is None


def _bad_inputs(r):
    text = r.text
    digits = text[1 : 1 + DIGITS]
    with_this = TextWithThis("junk")
    with_this.this = text
    return {
        "address-as-int": r.address,
        "bytes": text.encode(),
        "float": 1.5,
        "list": [text],
        "other-tag": pointer_text(r.address, "_p_Other"),
        "lower-case-tag": pointer_text(r.address, "_p_rimage"),
        "short-tag": pointer_text(r.address, "_p_RImag"),
        "long-tag": text + "x",
        "no-tag": text[: 1 + DIGITS],
        "non-ascii-tag": pointer_text(r.address, "_p_RImag\u00e9"),
        "other-word-size-digits": other_word_size_text(r.address),
        "one-digit-short": "_" + digits[:-1],
        "4-digits": "_" + digits[:4],
        "no-underscore": digits + "_p_RImage",
        "leading-blank": " " + text,
        "null": "null",
        "NULL-blank": "NULL ",
        "empty": "",
        "embedded-NUL": text + "\0",
        "NUL-then-junk": text + "\0junk",
        "lone-surrogate": text + "\ud800",
        "surrogate-digit": "_\ud800" + digits[1:] + "_p_RImage",
        "str-with-this": with_this,
        "wrapper-no-this": object(),
        "wrapper-int-this": Wrapper(r.address),
        "wrapper-None-this": Wrapper(None),
        "wrapper-bad-tag": Wrapper(pointer_text(r.address, "_p_Other")),
        "wrapper-of-wrapper": Wrapper(Wrapper(text)),
        "raising-this": RaisingThis(),
    }


BAD_INPUT_IDS = list(_bad_inputs(Record(1, 1)))


@pytest.mark.parametrize("case", BAD_INPUT_IDS)
def test_bad_input_raises_type_error(record, case):
    value = _bad_inputs(record)[case]
    with pytest.raises(TypeError) as raised:
        convert(value)
    assert type(raised.value) is TypeError
    assert str(raised.value) == TYPE_ERROR
    # Refused every time, not just on the first call.
    with pytest.raises(TypeError, match="^Type error. Expected _p_RImage$"):
        convert(value)


def test_a_refusal_leaves_no_error_behind(record):
    with pytest.raises(TypeError):
        convert(RaisingThis())
    assert convert(record.text).get_size() == (3, 2)
    assert convert(None) is None


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((), {}),
        (("NULL", "NULL"), {}),
        ((None, None, None), {}),
        ((), {"image": "NULL"}),
        (("NULL",), {"image": "NULL"}),
    ],
)
def test_argument_count_and_keywords(args, kwargs):
    with pytest.raises(TypeError, match="RImage_asSDLSurface") as raised:
        convert(*args, **kwargs)
    assert str(raised.value) != TYPE_ERROR


def test_namespace_holds_only_the_function():
    import_entries = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}
    names = set(vars(Quorvelc))
    assert names - import_entries == {"RImage_asSDLSurface"}
    assert Quorvelc.__name__ == "Quorvelc"
    assert callable(Quorvelc.RImage_asSDLSurface)
