// Conversion of Python objects (pointer texts and their wrappers) into
// typed C addresses.
#include "runtime/runtime.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// "this", made on first need and kept for the life of the process.
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
    char *message = static_cast<char *>(std::malloc(size));
    if (!message) {
        PyErr_NoMemory();
        return -1;
    }
    std::snprintf(message, size, "Type error. Expected %s", descriptor->name);
    PyErr_SetString(PyExc_TypeError, message);
    std::free(message);
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

}  // namespace

int object_to_pointer(PyObject *object, void **out, type_descriptor *descriptor, int flags) {
    if (!object)
        return 0;
    if (object == Py_None) {
        *out = nullptr;
        return 0;
    }

    PyObject *text_object = object;
    PyObject *this_attribute = nullptr;  // owned while held
    if (!PyUnicode_Check(object)) {
        if (!this_name) {
            this_name = PyUnicode_InternFromString("this");
            if (!this_name)
                return -1;
        }
        this_attribute = PyObject_GetAttr(object, this_name);
        if (!this_attribute || !PyUnicode_Check(this_attribute)) {
            Py_XDECREF(this_attribute);
            return type_error(descriptor, flags);
        }
        text_object = this_attribute;
    }

    Py_ssize_t length = 0;
    const char *text = PyUnicode_AsUTF8AndSize(text_object, &length);
    int status = 0;
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

    if (status == 0 && wrapped && (flags & CONVERT_DISOWN))
        set_thisown(object, 0);
    return status;
}
