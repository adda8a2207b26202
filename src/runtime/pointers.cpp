// Conversions between Python objects (pointer texts and their wrappers) and
// typed C addresses, both ways.
#include "runtime/runtime.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The interned "this" that keep_this_name made, or null.
PyObject *this_name = nullptr;

// Raises the conversion's TypeError when asked to, and gives -1 either way.
int type_error(const type_descriptor *descriptor, int flags) {
    if (!(flags & CONVERT_RAISE))
        return -1;
    if (!descriptor) {
        PyErr_SetString(PyExc_TypeError, "Expected a pointer");
        return -1;
    }
    size_t size = std::strlen(descriptor->name) + 64;
    // From the interpreter's heap, whose failures can be provoked in a test
    // like every other allocation of a call.
    char *message = static_cast<char *>(PyMem_Malloc(size));
    if (!message) {
        PyErr_NoMemory();
        return -1;
    }
    std::snprintf(message, size, "Type error. Expected %s", descriptor->name);
    PyErr_SetString(PyExc_TypeError, message);
    PyMem_Free(message);
    return -1;
}

// Sets `thisown` on a wrapper; a failure to do so is not reported, as the
// conversion itself has succeeded.
void set_thisown(PyObject *wrapper, long value) {
    PyObject *flag = PyLong_FromLong(value);
    if (!flag) {
        PyErr_Clear();
        return;
    }
    if (PyObject_SetAttrString(wrapper, "thisown", flag) < 0)
        PyErr_Clear();
    Py_DECREF(flag);
}

// The object's `this` (a new reference), or null. When the conversion's own
// TypeError will replace a missing attribute's error, no AttributeError is
// built where the API built against offers that (3.13 on, which the stable
// ABI's 3.10 floor does not); every other error stays set.
PyObject *this_of(PyObject *object, PyObject *name, bool error_replaced) {
#if PY_VERSION_HEX >= 0x030D0000 && (!defined(Py_LIMITED_API) || Py_LIMITED_API >= 0x030D0000)
    if (error_replaced) {
        PyObject *attribute = nullptr;
        PyObject_GetOptionalAttr(object, name, &attribute);
        return attribute;
    }
#else
    (void)error_replaced;
#endif
    return PyObject_GetAttr(object, name);
}

// A str or a subclass of str. The exact test is inline, where PyUnicode_Check
// is a call in the limited API; a subclass takes that call.
inline bool is_text(PyObject *object) {
    return PyUnicode_CheckExact(object) || PyUnicode_Check(object);
}

// The characters of a str as UTF-8, or null with the encoder's error set.
// Outside the limited API an ASCII str is read in place, skipping the call;
// in it, the call itself gives an ASCII str's own bytes without encoding.
const char *utf8_of(PyObject *text_object, Py_ssize_t *length) {
#ifndef Py_LIMITED_API
    if (PyUnicode_IS_COMPACT_ASCII(text_object)) {
        *length = PyUnicode_GET_LENGTH(text_object);
        return static_cast<const char *>(PyUnicode_DATA(text_object));
    }
#endif
    return PyUnicode_AsUTF8AndSize(text_object, length);
}

}  // namespace

int keep_this_name() {
    if (!this_name)
        this_name = PyUnicode_InternFromString("this");
    return this_name ? 0 : -1;
}

void release_this_name() {
    PyObject *name = this_name;
    this_name = nullptr;
    Py_XDECREF(name);
}

int object_to_pointer(PyObject *object, void **out, type_descriptor *descriptor, int flags) {
    if (!object)
        return 0;
    if (object == Py_None) {
        *out = nullptr;
        return 0;
    }

    PyObject *text_object = object;
    PyObject *this_attribute = nullptr;  // owned while held
    if (!is_text(object)) {
        // Without a kept name (no initialised module owns one) the
        // conversion makes its own, so that none outlives its interpreter.
        PyObject *name = this_name ? this_name : PyUnicode_FromString("this");
        if (!name)
            return -1;
        this_attribute = this_of(object, name, flags & CONVERT_RAISE);
        if (name != this_name)
            Py_DECREF(name);
        // An interrupt or an exit says nothing about the object: it goes on
        // unchanged, where any Exception becomes the refusal.
        if (!this_attribute && PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception))
            return -1;
        if (!this_attribute || !is_text(this_attribute)) {
            Py_XDECREF(this_attribute);
            return type_error(descriptor, flags);
        }
        text_object = this_attribute;
    }

    Py_ssize_t length = 0;
    const char *text = utf8_of(text_object, &length);
    int status = 0;
    bool carries_address = false;  // "NULL" succeeds without one
    if (!text) {
        // Characters that cannot be encoded make no pointer text; without
        // CONVERT_RAISE the encoder's error is not passed on either.
        if (!(flags & CONVERT_RAISE))
            PyErr_Clear();
        status = type_error(descriptor, flags);
    } else if (length == 0 || text[0] != '_') {
        *out = nullptr;
        if (length != 4 || std::memcmp(text, "NULL", 4) != 0)
            status = type_error(descriptor, flags);
    } else if (length - 1 < static_cast<Py_ssize_t>(2 * sizeof(void *))) {
        // Too short for all the digits: never read past the text.
        status = type_error(descriptor, flags);
    } else {
        void *address = nullptr;
        const char *tag = unpack_hex(text + 1, reinterpret_cast<unsigned char *>(&address),
                                     static_cast<int>(sizeof(void *)));
        *out = address;
        carries_address = true;
        if (descriptor) {
            type_descriptor *entry = check_type(tag, length - (tag - text), descriptor);
            if (entry)
                *out = cast_pointer(entry, address);
            else
                status = type_error(descriptor, flags);
        }
    }
    bool wrapped = this_attribute != nullptr;
    Py_XDECREF(this_attribute);

    // "NULL" returns before the wrapper is disowned: it owns no record.
    if (status == 0 && carries_address && wrapped && (flags & CONVERT_DISOWN))
        set_thisown(object, 0);
    return status;
}

namespace {

// "_" + hex digits of the bytes + tag, as a new str (or null with the error
// set). Texts are put together on the stack; only a tag too long for that
// buffer takes the heap, so nothing is ever written past a buffer.
PyObject *make_pointer_text(const unsigned char *bytes, int count, const char *tag) {
    char stack_buffer[1024];
    size_t tag_length = std::strlen(tag);
    size_t length = 1 + 2 * static_cast<size_t>(count) + tag_length;
    char *buffer = stack_buffer;
    if (length + 1 > sizeof stack_buffer) {
        buffer = static_cast<char *>(std::malloc(length + 1));
        if (!buffer)
            return PyErr_NoMemory();
    }
    buffer[0] = '_';
    char *end = pack_hex(buffer + 1, bytes, count);
    // The tag's terminator comes along: the text is a C string as well as counted.
    std::memcpy(end, tag, tag_length + 1);
    PyObject *text = PyUnicode_FromStringAndSize(buffer, static_cast<Py_ssize_t>(length));
    if (buffer != stack_buffer)
        std::free(buffer);
    return text;
}

}  // namespace

PyObject *pointer_to_object(void *address, type_descriptor *descriptor, int own) {
    if (!address)
        Py_RETURN_NONE;
    PyObject *text = make_pointer_text(reinterpret_cast<const unsigned char *>(&address),
                                       static_cast<int>(sizeof address), descriptor->name);
    if (!text || !descriptor->client_data)
        return text;

    PyObject *arguments = PyTuple_Pack(1, text);
    if (!arguments) {
        Py_DECREF(text);
        return nullptr;
    }
    PyObject *instance = PyObject_CallObject(descriptor->client_data, arguments);
    Py_DECREF(arguments);
    if (!instance)
        return text;  // the plain text, while the class call's error stays set
    Py_DECREF(text);
    if (own)
        set_thisown(instance, 1);
    return instance;
}

PyObject *packed_to_object(const void *bytes, int size, type_descriptor *descriptor) {
    // Counted in 64 bits: twice a large int size must not wrap.
    if (size < 0 || 2 * int64_t{size} + 1 + static_cast<int64_t>(std::strlen(descriptor->name)) >
                        PACKED_TEXT_LIMIT)
        return nullptr;
    return make_pointer_text(static_cast<const unsigned char *>(bytes), size, descriptor->name);
}
