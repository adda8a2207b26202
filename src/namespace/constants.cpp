// The constants installer and the module's own (empty) constants table.
#include "namespace/namespace.h"

#include <climits>

const const_entry module_constants[] = {
    {0, nullptr, 0, 0.0, nullptr, nullptr},
};

namespace {

// The row's object as a new reference, or null (with an error only when
// making it failed). Rows that name no type, or a string row without
// characters, make nothing.
PyObject *make_constant(const const_entry &row) {
    type_descriptor *type = row.type_ref ? *row.type_ref : nullptr;
    switch (row.kind) {
    case CONST_INT:
        return PyLong_FromLong(row.integer_value);
    case CONST_FLOAT:
        return PyFloat_FromDouble(row.real_value);
    case CONST_STRING:
        return row.data ? PyUnicode_FromString(static_cast<const char *>(row.data)) : nullptr;
    case CONST_POINTER:
        return type ? pointer_to_object(const_cast<void *>(row.data), type, 0) : nullptr;
    case CONST_PACKED:
        // A count beyond int range could never fit the text limit either.
        if (!type || row.integer_value < 0 || row.integer_value > INT_MAX)
            return nullptr;
        return packed_to_object(row.data, static_cast<int>(row.integer_value), type);
    default:
        return nullptr;
    }
}

}  // namespace

void install_constants(PyObject *dict, const const_entry *table) {
    for (const const_entry *row = table; row->kind != 0; ++row) {
        // A failed row's error stays for the caller, but the rows after it
        // must not run with an error pending.
        pending_error earlier = set_error_aside();
        PyObject *value = make_constant(*row);
        if (value) {
            // A pointer whose class call failed comes back as its text with
            // that call's error set; the store runs with it set aside.
            pending_error from_making = set_error_aside();
            PyDict_SetItemString(dict, row->name, value);
            Py_DECREF(value);
            restore_error_unless_newer(from_making);
        }
        restore_error_unless_newer(earlier);
    }
}
