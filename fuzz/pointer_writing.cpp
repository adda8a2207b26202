// The writing side of pointer texts: pack_hex, packed_to_object and
// pointer_to_object with arbitrary sizes, addresses and descriptor names
// (also names far longer than the 1024-byte text buffer). Every buffer is an
// exactly sized heap block, so a write or read beyond one is caught; each
// written text is compared with one built here, and a pointer text must decode
// back to the same address.
#include "embedded_python.h"

#include "runtime/runtime.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

PyObject *wrapper_class = nullptr;  // keeps its one argument as `this`
PyObject *failing_class = nullptr;  // raises when called

std::string hex_of(const unsigned char *bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xf];
    }
    return text;
}

// Whether the interpreter can make a str of these bytes (valid UTF-8). An
// error pending from the call under test is kept as it is.
bool makes_text(const std::string &bytes) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyObject *text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()),
                                          "strict");
    bool made = text != nullptr;
    Py_XDECREF(text);
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
    return made;
}

bool equals_text(PyObject *object, const std::string &expected) {
    Py_ssize_t length = 0;
    const char *chars = PyUnicode_Check(object) ? PyUnicode_AsUTF8AndSize(object, &length) : nullptr;
    return chars && static_cast<size_t>(length) == expected.size() &&
           std::memcmp(chars, expected.data(), expected.size()) == 0;
}

void check_pack_hex(const unsigned char *bytes, int count) {
    size_t used = count > 0 ? static_cast<size_t>(count) : 0;
    std::unique_ptr<char[]> out(new char[2 * used]);
    char *end = pack_hex(out.get(), bytes, count);
    FUZZ_CHECK(end == out.get() + 2 * used);
    FUZZ_CHECK(std::string(out.get(), 2 * used) == hex_of(bytes, used));
}

void check_packed(const unsigned char *bytes, int size, type_descriptor *descriptor,
                  const std::string &name) {
    PyObject *text = packed_to_object(bytes, size, descriptor);
    bool too_long = size < 0 || 2 * int64_t{size} + 1 + static_cast<int64_t>(name.size()) > 1000;
    if (too_long) {
        FUZZ_CHECK(!text && !PyErr_Occurred());
        return;
    }
    std::string expected = "_" + hex_of(bytes, static_cast<size_t>(size)) + name;
    FUZZ_CHECK(expected.size() <= 1000);
    if (!makes_text(expected)) {
        FUZZ_CHECK(!text && PyErr_Occurred());
        PyErr_Clear();
        return;
    }
    FUZZ_CHECK(text && equals_text(text, expected));
    Py_DECREF(text);
}

// The text decodes back to the address, with no descriptor and with one
// whose single equivalent is the name.
void check_decodes_back(PyObject *object, void *address, const char *name, int flags) {
    void *back = nullptr;
    FUZZ_CHECK(object_to_pointer(object, &back, nullptr, flags | CONVERT_RAISE) == 0);
    FUZZ_CHECK(back == address);
    type_descriptor types[] = {
        {name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
        {name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    types[0].next = &types[1];
    types[1].prev = &types[0];
    back = nullptr;
    FUZZ_CHECK(object_to_pointer(object, &back, &types[0], CONVERT_RAISE) == 0);
    FUZZ_CHECK(back == address);
}

void check_pointer(void *address, type_descriptor *descriptor, const std::string &name,
                   int own, int wrapping) {
    descriptor->client_data = wrapping == 1 ? wrapper_class : wrapping == 2 ? failing_class : nullptr;
    PyObject *result = pointer_to_object(address, descriptor, own);
    descriptor->client_data = nullptr;
    if (!address) {
        FUZZ_CHECK(result == Py_None && !PyErr_Occurred());
        Py_DECREF(result);
        return;
    }
    std::string expected =
        "_" + hex_of(reinterpret_cast<const unsigned char *>(&address), sizeof address) + name;
    if (!makes_text(expected)) {
        FUZZ_CHECK(!result && PyErr_Occurred());
        PyErr_Clear();
        return;
    }
    FUZZ_CHECK(result);
    if (wrapping == 1) {
        FUZZ_CHECK(!PyErr_Occurred());
        PyObject *this_text = PyObject_GetAttrString(result, "this");
        FUZZ_CHECK(this_text && equals_text(this_text, expected));
        Py_DECREF(this_text);
        FUZZ_CHECK(PyObject_HasAttrString(result, "thisown") == (own ? 1 : 0));
        check_decodes_back(result, address, descriptor->name, CONVERT_DISOWN);
        PyObject *thisown = PyObject_GetAttrString(result, "thisown");
        FUZZ_CHECK(thisown && PyLong_Check(thisown) && PyLong_AsLong(thisown) == 0);
        Py_DECREF(thisown);
    } else {
        // A failing class call gives the plain text with its error still set.
        if (wrapping == 2) {
            FUZZ_CHECK(PyErr_ExceptionMatches(PyExc_ValueError));
            PyErr_Clear();
        }
        FUZZ_CHECK(!PyErr_Occurred());
        FUZZ_CHECK(equals_text(result, expected));
        check_decodes_back(result, address, descriptor->name, 0);
    }
    Py_DECREF(result);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    start_embedded_python(false);
    PyObject *globals = PyDict_New();
    if (!globals || PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins()) < 0)
        fuzz_fail("globals");
    PyObject *done = PyRun_String(
        "class Wrapper:\n"
        "    def __init__(self, this):\n"
        "        self.this = this\n"
        "class Failing:\n"
        "    def __init__(self, this):\n"
        "        raise ValueError(this)\n",
        Py_file_input, globals, globals);
    if (!done)
        fuzz_fail("the wrapping classes");
    Py_DECREF(done);
    wrapper_class = PyDict_GetItemString(globals, "Wrapper");
    failing_class = PyDict_GetItemString(globals, "Failing");
    Py_XINCREF(wrapper_class);
    Py_XINCREF(failing_class);
    Py_DECREF(globals);
    if (!wrapper_class || !failing_class)
        fuzz_fail("the wrapping classes");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    int requested = input.ConsumeBool() ? input.ConsumeIntegralInRange(-4, 600)
                                        : input.ConsumeIntegral<int>();
    auto address = reinterpret_cast<void *>(input.ConsumeIntegral<uintptr_t>());
    int own = input.ConsumeBool();
    int wrapping = input.ConsumeIntegralInRange(0, 2);
    bool long_name = input.ConsumeBool();
    std::string name = input.ConsumeRandomLengthString(4096);
    name = name.substr(0, name.find('\0'));  // the descriptor's name ends at its NUL
    if (long_name)
        name = std::string(1024 + (name.size() % 64), 'x') + name;

    // The name as the descriptor holds it: an exactly sized, terminated block.
    std::unique_ptr<char[]> stored_name(new char[name.size() + 1]);
    std::memcpy(stored_name.get(), name.c_str(), name.size() + 1);
    type_descriptor descriptor = {stored_name.get(), nullptr, nullptr, nullptr,
                                  nullptr,           nullptr, nullptr};

    // Bytes only where the size can be honoured, in a block of exactly that
    // size: a larger size must be refused without a read.
    size_t byte_count = requested > 0 && requested <= 1000 ? static_cast<size_t>(requested) : 0;
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[byte_count]);
    std::vector<unsigned char> rest = input.ConsumeRemainingBytes<unsigned char>();
    for (size_t i = 0; i < byte_count; ++i)
        bytes[i] = rest.empty() ? static_cast<unsigned char>(i) : rest[i % rest.size()];
    if (byte_count)
        check_pack_hex(bytes.get(), requested);
    check_pack_hex(bytes.get(), requested <= 0 ? requested : 0);
    check_packed(bytes.get(), requested, &descriptor, name);
    check_pointer(address, &descriptor, name, own, wrapping);
    return 0;
}
