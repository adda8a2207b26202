// Keeping an earlier error while further work runs.
#include "runtime/runtime.h"

pending_error set_error_aside() {
    pending_error error;
    PyErr_Fetch(&error.type, &error.value, &error.traceback);
    return error;
}

void restore_error_unless_newer(pending_error error) {
    if (PyErr_Occurred()) {
        Py_XDECREF(error.type);
        Py_XDECREF(error.value);
        Py_XDECREF(error.traceback);
        return;
    }
    PyErr_Restore(error.type, error.value, error.traceback);
}
