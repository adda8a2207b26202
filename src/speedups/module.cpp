// The module Quorvel._speedups: its method table, its entry and surface_at.
// It links its own copy of the core, so it keeps its own pygame slot table
// and SDL entry points, filled at import as Quorvelc fills its own.
#include "speedups/speedups.h"

namespace {

PyMethodDef method_table[] = {
    {"surface_at", surface_at, METH_VARARGS,
     "surface_at(address, width, height, pitch, order, /)\n--\n\n"
     "A new Surface over the memory at address, or None; nothing is kept."},
    {"fast_frombuffer", make_fast_frombuffer, METH_VARARGS,
     "fast_frombuffer(python_frombuffer, kept, /)\n--\n\n"
     "frombuffer made in C for its common case, python_frombuffer for the rest."},
    {nullptr, nullptr, 0, nullptr},
};

// Single-phase, without module state, as Quorvelc: the slot table and SDL's
// entry points are process-wide.
PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "Quorvel._speedups",
    "Private compiled helpers of Quorvel.",
    -1,
    method_table,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyObject *surface_at(PyObject *, PyObject *args) {
    PyObject *address;
    pixel_rows rows;
    const char *order;
    Py_ssize_t length;
    if (!PyArg_ParseTuple(args, "O!iiis#:surface_at", &PyLong_Type, &address, &rows.width,
                          &rows.height, &rows.row_stride, &order, &length))
        return nullptr;
    pixel_format format;
    if (length == 1 || !format_for_order(order, length, &format)) {
        PyErr_Format(PyExc_ValueError,
                     "order must name 3 or 4 bytes: R, G and B once each, and A or X for a "
                     "4-byte pixel, not %R",
                     PyTuple_GetItem(args, 4));
        return nullptr;
    }
    rows.pixels = static_cast<char *>(PyLong_AsVoidPtr(address));
    if (!rows.pixels && PyErr_Occurred())
        return nullptr;
    return surface_over_rows(rows, &format);
}

// The name CPython looks for: PyInit_ and the module's own name, underscore included.
PyMODINIT_FUNC PyInit__speedups(void) {  // NOLINT(bugprone-reserved-identifier)
    PyObject *module = PyModule_Create(&module_definition);
    if (!module)
        return nullptr;
    if (import_pygame_and_sdl() < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
