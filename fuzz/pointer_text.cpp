// Pointer texts read and written, against rules worked out here. Reading: the
// input as hex and as a tag (on an exactly sized copy), and as str objects,
// bare and as a wrapper's `this`. Writing: the input up to a NUL as the type
// name, sizes, address and flags from its last bytes; every block is exactly
// sized, and a pointer text must decode back to its address.
#include "embedded_python.h"

#include "runtime/runtime.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr size_t ADDRESS_END = 1 + 2 * sizeof(void *);  // '_' and the digits
PyObject *wrapper_class, *failing_class;
type_descriptor fuzz_types[5], *fuzz_head;  // three tags, for check_type's move to the front

int digit(unsigned char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The lenient decoding: a non-digit keeps the running byte as it was.
void decode(const char *chars, size_t count, void *out) {
    for (unsigned i = 0, byte = 0; i < count; ++i) {
        int high = digit(chars[2 * i]), low = digit(chars[2 * i + 1]);
        byte = high >= 0 ? unsigned(high) << 4 : byte;
        byte |= low >= 0 ? unsigned(low) : 0;
        static_cast<unsigned char *>(out)[i] = static_cast<unsigned char>(byte);
    }
}

std::string hex_of(const void *bytes, size_t count) {
    std::string text;
    for (auto *byte = static_cast<const unsigned char *>(bytes); count--; ++byte)
        text += {"0123456789abcdef"[*byte >> 4], "0123456789abcdef"[*byte & 15]};
    return text;
}

void expect_type_error(const char *message) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyObject *text = value ? PyObject_Str(value) : nullptr;
    FUZZ_CHECK(type == PyExc_TypeError && text && !PyUnicode_CompareWithASCIIString(text, message));
    Py_DECREF(text), Py_XDECREF(type), Py_XDECREF(value), Py_XDECREF(traceback);
}

void expect_thisown(PyObject *wrapper, long value) {
    PyObject *thisown = PyObject_GetAttrString(wrapper, "thisown");
    FUZZ_CHECK(thisown && PyLong_AsLong(thisown) == value);
    Py_DECREF(thisown);
}

// One conversion; gives whether it must be accepted. `utf8` is the text's
// UTF-8 form, null when it has none: then nothing is accepted.
bool convert(PyObject *object, const std::string *utf8, type_descriptor *descriptor, int flags) {
    void *const untouched = &fuzz_head;
    void *out = untouched, *address = nullptr;
    int status = object_to_pointer(object, &out, descriptor, flags);
    bool addressed = utf8 && utf8->size() >= ADDRESS_END && (*utf8)[0] == '_';
    if (addressed)
        decode(utf8->data() + 1, sizeof address, &address);
    if ((utf8 && *utf8 == "NULL") ||
        (addressed && (!descriptor || utf8->substr(ADDRESS_END) == descriptor->name))) {
        FUZZ_CHECK(status == 0 && !PyErr_Occurred() && out == address);
        return true;
    }
    FUZZ_CHECK(status == -1);
    // *out keeps what was written before the failure: a refused tag its address.
    if (!utf8 || addressed || utf8->empty() || (*utf8)[0] != '_')
        FUZZ_CHECK(out == (utf8 ? address : untouched));
    if (flags & CONVERT_RAISE)
        expect_type_error(descriptor ? "Type error. Expected _p_RImage" : "Expected a pointer");
    FUZZ_CHECK(!PyErr_Occurred());
    return false;
}

void check_reading(PyObject *text) {
    PyObject *bytes = PyUnicode_AsUTF8String(text);  // the codec's answer, not the runtime's
    std::string utf8 = bytes ? std::string(PyBytes_AS_STRING(bytes), PyBytes_GET_SIZE(bytes)) : "";
    const std::string *expected = bytes ? &utf8 : nullptr;
    Py_XDECREF(bytes);
    PyErr_Clear();
    type_descriptor *rimage = registered_types[RIMAGE_TYPE];
    convert(text, expected, rimage, CONVERT_RAISE);
    convert(text, expected, rimage, 0);
    convert(text, expected, nullptr, CONVERT_RAISE);
    // Held by a wrapper, with CONVERT_DISOWN: only an accepted address clears `thisown`.
    PyObject *wrapper = PyObject_CallFunctionObjArgs(wrapper_class, text, nullptr);
    FUZZ_CHECK(wrapper);
    bool accepted = convert(wrapper, expected, rimage, CONVERT_RAISE | CONVERT_DISOWN);
    expect_thisown(wrapper, accepted && utf8 != "NULL" ? 0 : 7);
    Py_DECREF(wrapper);
}

void check_raw(const char *data, size_t size) {
    std::unique_ptr<char[]> copy(new char[size]);
    char *raw = static_cast<char *>(std::memcpy(copy.get(), data, size));
    size_t count = size / 2;
    std::unique_ptr<unsigned char[]> got(new unsigned char[count]), want(new unsigned char[count]);
    FUZZ_CHECK(unpack_hex(raw, got.get(), int(count)) == raw + 2 * count);
    decode(raw, count, want.get());
    FUZZ_CHECK(!std::memcmp(got.get(), want.get(), count));
    FUZZ_CHECK(unpack_hex(raw, got.get(), 0) == raw && unpack_hex(raw, got.get(), -1) == raw);

    std::string tag(raw, size);
    type_descriptor *entry = check_type(raw, Py_ssize_t(size), fuzz_head);
    FUZZ_CHECK(!entry == (tag != "_p_FuzzA" && tag != "_p_Fuzz" && tag != "_p_FuzzB"));
    FUZZ_CHECK(!entry || (tag == entry->name && fuzz_head->next == entry));  // the match first
    // The list keeps all three entries, linked both ways.
    int entries = 0;
    for (type_descriptor *e = fuzz_head->next, *before = fuzz_head; e; before = e, e = e->next)
        FUZZ_CHECK(e->prev == before && ++entries <= 3);
    FUZZ_CHECK(entries == 3 && !check_type(raw, Py_ssize_t(size), nullptr));
}

// `result` (released here) must be the str of `expected`, or null with an
// error when those bytes are no UTF-8.
void expect_text(PyObject *result, const std::string &expected) {
    FUZZ_CHECK(!result == !!PyErr_Occurred());
    PyErr_Clear();
    PyObject *want = PyUnicode_DecodeUTF8(expected.data(), Py_ssize_t(expected.size()), nullptr);
    PyErr_Clear();
    FUZZ_CHECK(want ? result && PyUnicode_Check(result) && !PyUnicode_Compare(result, want)
                    : !result);
    Py_XDECREF(want), Py_XDECREF(result);
}

// Decodes back to the address, with no descriptor and with the name as the one equivalent.
void expect_decodes_back(PyObject *object, void *address, const char *name, int flags) {
    type_descriptor types[2] = {};
    types[0].name = types[1].name = name;
    types[0].next = &types[1], types[1].prev = &types[0];
    for (type_descriptor *descriptor : {static_cast<type_descriptor *>(nullptr), types}) {
        void *back = nullptr;
        FUZZ_CHECK(!object_to_pointer(object, &back, descriptor, flags | CONVERT_RAISE));
        FUZZ_CHECK(back == address);
    }
}

void check_writing(const char *data, size_t size) {
    FuzzedDataProvider tail(reinterpret_cast<const uint8_t *>(data), size);
    int requested = tail.ConsumeBool() ? tail.ConsumeIntegralInRange(-4, 600)
                                       : tail.ConsumeIntegral<int>();
    auto address = reinterpret_cast<void *>(tail.ConsumeIntegral<uintptr_t>());
    int own = tail.ConsumeBool(), wrapping = tail.ConsumeIntegralInRange(0, 2);
    std::string name(data, strnlen(data, size));
    if (tail.ConsumeBool())
        name.insert(0, 990 + size % 64, 'x');  // around the end of the 1024-byte text buffer
    std::unique_ptr<char, decltype(&free)> stored(strdup(name.c_str()), free);
    type_descriptor descriptor = {};
    descriptor.name = stored.get();

    // Bytes only where the size can be honoured: a larger one is refused unread.
    int count = requested > 0 && requested <= 1000 ? requested : 0;
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[count]);
    for (int i = 0; i < count; ++i)
        bytes[i] = static_cast<unsigned char>(size ? data[i % size] : i);
    for (int n : {count, requested < 0 ? requested : 0}) {
        size_t used = n > 0 ? size_t(n) : 0;
        std::unique_ptr<char[]> out(new char[2 * used]);
        char *end = pack_hex(out.get(), bytes.get(), n);
        FUZZ_CHECK(end == out.get() + 2 * used);
        FUZZ_CHECK(std::string(out.get(), end) == hex_of(bytes.get(), used));
    }
    PyObject *packed = packed_to_object(bytes.get(), requested, &descriptor);
    if (requested < 0 || 2 * int64_t{requested} + 1 + int64_t(name.size()) > 1000)
        FUZZ_CHECK(!packed && !PyErr_Occurred());
    else
        expect_text(packed, "_" + hex_of(bytes.get(), count) + name);

    descriptor.client_data = wrapping ? wrapping == 1 ? wrapper_class : failing_class : nullptr;
    PyObject *result = pointer_to_object(address, &descriptor, own);
    std::string expected = "_" + hex_of(&address, sizeof address) + name;
    if (!address) {
        FUZZ_CHECK(result == Py_None && !PyErr_Occurred());
        Py_DECREF(result);
    } else if (result && wrapping == 1) {  // the instance holds the text
        expect_thisown(result, own ? 1 : 7);
        expect_decodes_back(result, address, stored.get(), CONVERT_DISOWN);
        expect_thisown(result, 0);
        expect_text(PyObject_GetAttrString(result, "this"), expected);
        Py_DECREF(result);
    } else {
        // A failing class call gives the plain text with the call's error still set.
        FUZZ_CHECK(!result || wrapping != 2 || PyErr_ExceptionMatches(PyExc_ValueError));
        if (result && wrapping == 2)
            PyErr_Clear();
        if (result)
            expect_decodes_back(result, address, stored.get(), 0);
        expect_text(result, expected);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    start_embedded_python(false);
    fuzz_types[0].name = fuzz_types[2].name = "_p_Fuzz";
    fuzz_types[1].name = "_p_FuzzA", fuzz_types[3].name = "_p_FuzzB";
    fuzz_head = register_type(fuzz_types);
    PyObject *classes = run_python(
        "class Wrapper:\n    def __init__(self, this): self.this, self.thisown = this, 7\n"
        "class Failing:\n    def __init__(self, this): raise ValueError(this)\n");
    wrapper_class = PyDict_GetItemString(classes, "Wrapper");
    failing_class = PyDict_GetItemString(classes, "Failing");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto chars = reinterpret_cast<const char *>(data);
    auto length = Py_ssize_t(size);
    check_raw(chars, size);
    for (PyObject *text : {PyUnicode_DecodeUTF8(chars, length, "replace"),
                           PyUnicode_DecodeUTF8(chars, length, "surrogateescape"),
                           PyUnicode_DecodeLatin1(chars, length, nullptr)}) {
        FUZZ_CHECK(text);
        check_reading(text);
        Py_DECREF(text);
    }
    check_writing(chars, size);
    return 0;
}
