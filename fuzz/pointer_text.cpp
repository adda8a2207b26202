// Pointer-text decoding on arbitrary texts: object_to_pointer on str objects
// (and on wrappers whose `this` holds them) decoded from the input in three
// ways, with and without a descriptor, and unpack_hex and check_type on
// exactly sized heap copies, so that a read past a text is caught.
//
// Whether a text must be accepted is worked out here independently of the
// runtime: under `_p_RImage` exactly "NULL" and the texts of at least 17
// characters (UTF-8 bytes) that start with '_' and whose remainder after
// 1 + 16 characters is "_p_RImage"; without a descriptor, any tag.
#include "embedded_python.h"

#include "runtime/runtime.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr size_t DIGIT_CHARS = 2 * sizeof(void *);
const std::string RIMAGE_TAG = "_p_RImage";

PyObject *namespace_class = nullptr;

// A type of this harness's own with three accepted tags, so that the move to
// the front of the equivalence list is exercised.
type_descriptor fuzz_types[] = {
    {"_p_Fuzz", nullptr, "Fuzz *", nullptr, nullptr, nullptr, nullptr},
    {"_p_FuzzA", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"_p_Fuzz", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"_p_FuzzB", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};
type_descriptor *fuzz_head = nullptr;

int digit_value(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The lenient decoding: a non-digit keeps the running byte as it was.
void decode_digits(const unsigned char *chars, size_t count, unsigned char *out) {
    unsigned byte = 0;
    for (size_t i = 0; i < count; ++i) {
        int high = digit_value(chars[2 * i]);
        if (high >= 0)
            byte = static_cast<unsigned>(high) << 4;
        int low = digit_value(chars[2 * i + 1]);
        if (low >= 0)
            byte |= static_cast<unsigned>(low);
        out[i] = static_cast<unsigned char>(byte);
    }
}

void *decoded_address(const std::string &text) {
    void *address = nullptr;
    decode_digits(reinterpret_cast<const unsigned char *>(text.data()) + 1, sizeof address,
                  reinterpret_cast<unsigned char *>(&address));
    return address;
}

bool is_null_text(const std::string &text) {
    return text == "NULL";
}

bool carries_address(const std::string &text) {
    return text.size() >= 1 + DIGIT_CHARS && text[0] == '_';
}

std::string tag_of(const std::string &text) {
    return text.substr(1 + DIGIT_CHARS);
}

void check_type_error(const char *expected) {
    FUZZ_CHECK(PyErr_ExceptionMatches(PyExc_TypeError));
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    const char *message = value && PyUnicode_Check(value) ? PyUnicode_AsUTF8(value) : nullptr;
    FUZZ_CHECK(message && std::strcmp(message, expected) == 0);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
}

// One conversion and its checks. `utf8` is null when the object's characters
// have no UTF-8 form (lone surrogates): then nothing is accepted.
void convert_and_check(PyObject *object, const std::string *utf8, type_descriptor *descriptor,
                       int flags) {
    void *const sentinel = reinterpret_cast<void *>(uintptr_t{0x5a5a5a5a});
    void *out = sentinel;
    int status = object_to_pointer(object, &out, descriptor, flags);
    bool accepted = false;
    if (utf8) {
        if (is_null_text(*utf8))
            accepted = true;
        else if (carries_address(*utf8))
            accepted = !descriptor || tag_of(*utf8) == descriptor->name;
    }
    if (accepted) {
        FUZZ_CHECK(status == 0);
        FUZZ_CHECK(!PyErr_Occurred());
        FUZZ_CHECK(out == (is_null_text(*utf8) ? nullptr : decoded_address(*utf8)));
        return;
    }
    FUZZ_CHECK(status == -1);
    if (utf8 && (utf8->empty() || (*utf8)[0] != '_'))
        FUZZ_CHECK(out == nullptr);
    else if (utf8 && carries_address(*utf8))
        FUZZ_CHECK(out == decoded_address(*utf8));  // a refused tag keeps the decoded address
    if (flags & CONVERT_RAISE)
        check_type_error(descriptor ? "Type error. Expected _p_RImage" : "Expected a pointer");
    else
        FUZZ_CHECK(!PyErr_Occurred());
}

// The text's UTF-8 bytes as the runtime sees them, worked out through the
// codec rather than the runtime; false when the text has none.
bool utf8_of(PyObject *text, std::string *utf8) {
    PyObject *encoded = PyUnicode_AsEncodedString(text, "utf-8", "strict");
    if (!encoded) {
        PyErr_Clear();
        return false;
    }
    utf8->assign(PyBytes_AS_STRING(encoded), static_cast<size_t>(PyBytes_GET_SIZE(encoded)));
    Py_DECREF(encoded);
    return true;
}

void check_text_object(PyObject *text) {
    std::string utf8;
    const std::string *expected = utf8_of(text, &utf8) ? &utf8 : nullptr;
    convert_and_check(text, expected, registered_types[RIMAGE_TYPE], CONVERT_RAISE);
    convert_and_check(text, expected, registered_types[RIMAGE_TYPE], 0);
    convert_and_check(text, expected, nullptr, CONVERT_RAISE);

    // The same text held by a wrapper; after an accepted conversion of an
    // address with CONVERT_DISOWN its `thisown` is 0. "NULL" returns before
    // the wrapper is touched, and a refused text leaves it alone too.
    PyObject *keywords = Py_BuildValue("{s:O,s:i}", "this", text, "thisown", 7);
    FUZZ_CHECK(keywords);
    PyObject *no_arguments = PyTuple_New(0);
    PyObject *wrapper = PyObject_Call(namespace_class, no_arguments, keywords);
    Py_DECREF(no_arguments);
    Py_DECREF(keywords);
    FUZZ_CHECK(wrapper);
    convert_and_check(wrapper, expected, registered_types[RIMAGE_TYPE], CONVERT_RAISE | CONVERT_DISOWN);
    void *out = nullptr;
    bool accepted = object_to_pointer(wrapper, &out, registered_types[RIMAGE_TYPE], CONVERT_DISOWN) == 0;
    PyErr_Clear();
    bool disowned = accepted && !(expected && is_null_text(*expected));
    PyObject *thisown = PyObject_GetAttrString(wrapper, "thisown");
    FUZZ_CHECK(thisown && PyLong_Check(thisown));
    FUZZ_CHECK(PyLong_AsLong(thisown) == (disowned ? 0 : 7));
    Py_DECREF(thisown);
    Py_DECREF(wrapper);
}

// The raw C side on copies without a terminator, exactly as long as the text.
void check_raw_text(const uint8_t *data, size_t size) {
    std::unique_ptr<unsigned char[]> text(new unsigned char[size]);
    if (size)
        std::memcpy(text.get(), data, size);

    // unpack_hex over every whole pair of characters.
    size_t count = size / 2;
    std::unique_ptr<unsigned char[]> decoded(new unsigned char[count]);
    std::unique_ptr<unsigned char[]> expected(new unsigned char[count]);
    const char *end = unpack_hex(reinterpret_cast<const char *>(text.get()), decoded.get(),
                                 static_cast<int>(count));
    FUZZ_CHECK(end == reinterpret_cast<const char *>(text.get()) + 2 * count);
    decode_digits(text.get(), count, expected.get());
    FUZZ_CHECK(count == 0 || std::memcmp(decoded.get(), expected.get(), count) == 0);
    FUZZ_CHECK(unpack_hex(reinterpret_cast<const char *>(text.get()), decoded.get(), 0) ==
               reinterpret_cast<const char *>(text.get()));
    FUZZ_CHECK(unpack_hex(reinterpret_cast<const char *>(text.get()), decoded.get(), -1) ==
               reinterpret_cast<const char *>(text.get()));

    // check_type with the whole input as the tag.
    std::string tag(reinterpret_cast<const char *>(data), size);
    const char *raw_tag = reinterpret_cast<const char *>(text.get());
    auto length = static_cast<Py_ssize_t>(size);
    type_descriptor *entry = check_type(raw_tag, length, registered_types[RIMAGE_TYPE]);
    FUZZ_CHECK((entry != nullptr) == (tag == RIMAGE_TAG));
    FUZZ_CHECK(!entry || std::strcmp(entry->name, "_p_RImage") == 0);

    entry = check_type(raw_tag, length, fuzz_head);
    bool known = tag == "_p_FuzzA" || tag == "_p_Fuzz" || tag == "_p_FuzzB";
    FUZZ_CHECK((entry != nullptr) == known);
    // The list keeps all three entries, linked both ways, the match first.
    FUZZ_CHECK(!entry || fuzz_head->next == entry);
    int entries = 0;
    for (type_descriptor *e = fuzz_head->next, *before = fuzz_head; e; before = e, e = e->next) {
        FUZZ_CHECK(e->prev == before);
        FUZZ_CHECK(++entries <= 3);
    }
    FUZZ_CHECK(entries == 3);
    FUZZ_CHECK(check_type(raw_tag, length, nullptr) == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    start_embedded_python(false);
    fuzz_head = register_type(fuzz_types);
    PyObject *types = PyImport_ImportModule("types");
    if (!types)
        fuzz_fail("import types");
    namespace_class = PyObject_GetAttrString(types, "SimpleNamespace");
    Py_DECREF(types);
    if (!namespace_class)
        fuzz_fail("types.SimpleNamespace");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    check_raw_text(data, size);

    const char *chars = reinterpret_cast<const char *>(data);
    auto length = static_cast<Py_ssize_t>(size);
    PyObject *texts[] = {
        PyUnicode_DecodeUTF8(chars, length, "replace"),
        PyUnicode_DecodeUTF8(chars, length, "surrogateescape"),
        PyUnicode_DecodeLatin1(chars, length, "strict"),
    };
    for (PyObject *text : texts) {
        FUZZ_CHECK(text);
        check_text_object(text);
        Py_DECREF(text);
    }
    return 0;
}
