// The writing side of pointer texts: pointer_to_object and packed_to_object.
#include "runtime/runtime.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Lower-case hex of the bytes, computed here without the runtime's coder.
std::string hex_of(const unsigned char *bytes, size_t count) {
    std::string out;
    char pair[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        out += pair;
    }
    return out;
}

std::string text_of(PyObject *object) {
    Py_ssize_t length = 0;
    const char *text = object ? PyUnicode_AsUTF8AndSize(object, &length) : nullptr;
    return text ? std::string(text, static_cast<size_t>(length)) : std::string("<not a str>");
}

// The pointer text of an address under "_p_RImage", written here.
std::string rimage_text(void *address) {
    return "_" + hex_of(reinterpret_cast<unsigned char *>(&address), sizeof address) + "_p_RImage";
}

// A class defined by Python source in a namespace of its own (new reference).
PyObject *python_class(const char *source, const char *name) {
    PyObject *globals = PyDict_New();
    PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
    PyObject *result = PyRun_String(source, Py_file_input, globals, globals);
    Py_XDECREF(result);
    PyObject *cls = PyDict_GetItemString(globals, name);
    Py_XINCREF(cls);
    Py_DECREF(globals);
    return cls;
}

const char wrapper_source[] =
    "class W:\n"
    "    def __init__(self, t):\n"
    "        self.this = t\n"
    "class Failing:\n"
    "    def __init__(self, t):\n"
    "        raise ValueError('no wrapper for ' + t)\n";

class PointerTexts : public ::testing::Test {
protected:
    void SetUp() override { PyErr_Clear(); }
    void TearDown() override { PyErr_Clear(); }
};

TEST_F(PointerTexts, NullAddressGivesNoneAsNewReference) {
    type_descriptor descriptor{"_p_RImage", nullptr, "RImage *", nullptr, nullptr, nullptr, nullptr};
    Py_ssize_t before = Py_REFCNT(Py_None);
    PyObject *result = pointer_to_object(nullptr, &descriptor, 1);
    EXPECT_EQ(result, Py_None);
    EXPECT_EQ(Py_REFCNT(Py_None), before + 1);
    EXPECT_FALSE(PyErr_Occurred());
    Py_XDECREF(result);
}

struct pointer_case {
    uintptr_t address;
    const char *tag;
    const char *expected_64;  // the text on a platform with 8-byte pointers
};

TEST_F(PointerTexts, AddressGivesUnderscoreDigitsInMemoryOrderThenTag) {
    const pointer_case cases[] = {
        {0x00a1b2c3, "_p_RImage", "_c3b2a10000000000_p_RImage"},
        {0x1, "_p_RImage", "_0100000000000000_p_RImage"},
        {UINTPTR_MAX, "_p_RImage", "_ffffffffffffffff_p_RImage"},
        {static_cast<uintptr_t>(0x0123456789abcdefULL), "_p_Other", "_efcdab8967452301_p_Other"},
        {0x00a1b2c3, "", "_c3b2a10000000000"},
    };
    register_initial_types();
    for (const pointer_case &c : cases) {
        SCOPED_TRACE(c.expected_64);
        type_descriptor descriptor{c.tag, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
        void *address = reinterpret_cast<void *>(c.address);
        PyObject *text = pointer_to_object(address, &descriptor, 0);
        ASSERT_NE(text, nullptr);
        ASSERT_TRUE(PyUnicode_CheckExact(text));
        std::string expected = "_" + hex_of(reinterpret_cast<unsigned char *>(&address), sizeof address) + c.tag;
        EXPECT_EQ(text_of(text), expected);
        if (sizeof(void *) == 8) {
            EXPECT_EQ(text_of(text), c.expected_64);
        }

        // Read back under the module's own type (any tag without a descriptor).
        type_descriptor *reader = std::strcmp(c.tag, "_p_RImage") == 0 ? registered_types[RIMAGE_TYPE] : nullptr;
        void *decoded = nullptr;
        EXPECT_EQ(object_to_pointer(text, &decoded, reader, CONVERT_RAISE), 0);
        EXPECT_EQ(decoded, address);
        EXPECT_FALSE(PyErr_Occurred());
        Py_DECREF(text);
    }
}

TEST_F(PointerTexts, ClassClientDataWrapsTheTextAndMarksOwnership) {
    register_initial_types();
    void *address = reinterpret_cast<void *>(uintptr_t{0x00a1b2c3});
    std::string expected = rimage_text(address);
    PyObject *wrapper = python_class(wrapper_source, "W");
    ASSERT_NE(wrapper, nullptr);
    type_descriptor descriptor{"_p_RImage", nullptr, "RImage *", wrapper, nullptr, nullptr, nullptr};

    for (int own : {1, 0}) {
        SCOPED_TRACE(own);
        PyObject *instance = pointer_to_object(address, &descriptor, own);
        ASSERT_NE(instance, nullptr);
        EXPECT_FALSE(PyErr_Occurred());
        EXPECT_EQ(PyObject_IsInstance(instance, wrapper), 1);
        PyObject *this_text = PyObject_GetAttrString(instance, "this");
        EXPECT_EQ(text_of(this_text), expected);
        Py_XDECREF(this_text);
        PyObject *thisown = PyObject_GetAttrString(instance, "thisown");
        if (own) {
            ASSERT_NE(thisown, nullptr);
            EXPECT_TRUE(PyLong_CheckExact(thisown));
            EXPECT_EQ(PyLong_AsLong(thisown), 1);
        } else {
            EXPECT_EQ(thisown, nullptr);
            EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_AttributeError));
            PyErr_Clear();
        }
        Py_XDECREF(thisown);
        // The wrapper is accepted back through its `this`.
        void *decoded = nullptr;
        EXPECT_EQ(object_to_pointer(instance, &decoded, registered_types[RIMAGE_TYPE], CONVERT_RAISE), 0);
        EXPECT_EQ(decoded, address);
        Py_DECREF(instance);
    }
    Py_DECREF(wrapper);
}

TEST_F(PointerTexts, FailingClassGivesPlainTextWithTheCallsErrorSet) {
    PyObject *failing = python_class(wrapper_source, "Failing");
    ASSERT_NE(failing, nullptr);
    type_descriptor descriptor{"_p_RImage", nullptr, "RImage *", failing, nullptr, nullptr, nullptr};
    void *address = reinterpret_cast<void *>(uintptr_t{0x10});
    PyObject *result = pointer_to_object(address, &descriptor, 1);
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(PyUnicode_CheckExact(result));
    EXPECT_EQ(text_of(result), rimage_text(address));
    ASSERT_NE(PyErr_Occurred(), nullptr);
    EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_ValueError));
    PyErr_Clear();
    Py_DECREF(result);
    Py_DECREF(failing);
}

TEST_F(PointerTexts, VeryLongTagIsWrittenInFull) {
    std::string tag = "_p_" + std::string(4997, 'x');
    tag[2000] = 'y';  // a mark in the middle, so a truncated or shifted copy shows
    type_descriptor descriptor{tag.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    void *address = reinterpret_cast<void *>(uintptr_t{0x00a1b2c3});
    PyObject *text = pointer_to_object(address, &descriptor, 0);
    ASSERT_NE(text, nullptr);
    std::string expected = "_" + hex_of(reinterpret_cast<unsigned char *>(&address), sizeof address) + tag;
    EXPECT_EQ(PyUnicode_GetLength(text), static_cast<Py_ssize_t>(1 + 2 * sizeof(void *) + 5000));
    EXPECT_EQ(text_of(text), expected);
    Py_DECREF(text);
}

struct packed_case {
    const char *label;
    std::vector<unsigned char> bytes;  // at least `size` bytes when the text is made
    int size;
    std::string tag;
    bool made;            // false: null and no error
    const char *literal;  // the text written out by hand, where short enough
};

TEST_F(PointerTexts, PackedDataTexts) {
    std::vector<unsigned char> block(496);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<unsigned char>(i * 7 + 3);
    const packed_case cases[] = {
        {"four bytes", {0x01, 0x02, 0x03, 0x04}, 4, "_p_RImage", true, "_01020304_p_RImage"},
        {"high and low digits", {0xff, 0x00, 0xa0, 0x0b}, 4, "_p_RImage", true, "_ff00a00b_p_RImage"},
        {"no bytes", {}, 0, "_p_RImage", true, "__p_RImage"},
        {"495 bytes fill the limit", block, 495, "_p_RImage", true, nullptr},
        {"496 bytes pass it", block, 496, "_p_RImage", false, nullptr},
        {"negative size", {0x01, 0x02}, -1, "_p_RImage", false, nullptr},
        {"most negative size", {0x01}, INT_MIN, "_p_RImage", false, nullptr},
        {"size whose double wraps", {0x01}, INT_MAX, "_p_RImage", false, nullptr},
        {"tag of 999 fills the limit alone", {}, 0, std::string(999, 't'), true, nullptr},
        {"tag of 1000 passes it alone", {}, 0, std::string(1000, 't'), false, nullptr},
    };
    for (const packed_case &c : cases) {
        SCOPED_TRACE(c.label);
        type_descriptor descriptor{c.tag.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
        PyObject *text = packed_to_object(c.bytes.data(), c.size, &descriptor);
        EXPECT_FALSE(PyErr_Occurred());
        PyErr_Clear();
        if (!c.made) {
            EXPECT_EQ(text, nullptr);
            Py_XDECREF(text);
            continue;
        }
        ASSERT_NE(text, nullptr);
        std::string expected = "_" + hex_of(c.bytes.data(), static_cast<size_t>(c.size)) + c.tag;
        EXPECT_EQ(text_of(text), expected);
        if (c.literal) {
            EXPECT_EQ(text_of(text), c.literal);
        }
        Py_DECREF(text);
    }
}

}  // namespace
