// Faults found by fuzzing the typed-pointer runtime, kept as regression tests.
// The interpreter is the one that main.cpp starts for the whole run.
#include "runtime/runtime.h"

#include <gtest/gtest.h>

namespace {

// A wrapper object with `this` and `thisown` = 1; a new reference.
PyObject *make_wrapper(const char *this_text) {
    PyObject *keywords = Py_BuildValue("{s:s,s:i}", "this", this_text, "thisown", 1);
    PyObject *types = PyImport_ImportModule("types");
    PyObject *namespace_class = types ? PyObject_GetAttrString(types, "SimpleNamespace") : nullptr;
    PyObject *no_arguments = PyTuple_New(0);
    PyObject *wrapper = keywords && namespace_class && no_arguments
                            ? PyObject_Call(namespace_class, no_arguments, keywords)
                            : nullptr;
    Py_XDECREF(no_arguments);
    Py_XDECREF(namespace_class);
    Py_XDECREF(types);
    Py_XDECREF(keywords);
    return wrapper;
}

long thisown_of(PyObject *wrapper) {
    PyObject *value = PyObject_GetAttrString(wrapper, "thisown");
    long result = value ? PyLong_AsLong(value) : -99;
    Py_XDECREF(value);
    return result;
}

// "NULL" converts to the null address and returns before the wrapper is
// disowned: it names no record for the wrapper to give up. The conversion of
// a real address still disowns, so the test tells the two apart.
TEST(RuntimeRegressions, NullTextInAWrapperIsNotDisowned) {
    register_initial_types();
    struct row {
        const char *text;
        void *address;
        long thisown_after;
    } rows[] = {
        {"NULL", nullptr, 1},
        {"_c3b2a10000000000_p_RImage", reinterpret_cast<void *>(uintptr_t{0x00a1b2c3}), 0},
    };
    for (const row &r : rows) {
        PyObject *wrapper = make_wrapper(r.text);
        ASSERT_NE(wrapper, nullptr);
        void *out = reinterpret_cast<void *>(uintptr_t{0x5a5a});
        EXPECT_EQ(object_to_pointer(wrapper, &out, registered_types[RIMAGE_TYPE],
                                    CONVERT_RAISE | CONVERT_DISOWN),
                  0)
            << r.text;
        EXPECT_EQ(out, r.address) << r.text;
        EXPECT_EQ(thisown_of(wrapper), r.thisown_after) << r.text;
        EXPECT_EQ(PyErr_Occurred(), nullptr) << r.text;
        Py_DECREF(wrapper);
    }
}

}  // namespace
