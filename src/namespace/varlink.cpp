// The `swigvarlink` type: attribute access routed to native global variables.
#include "namespace/namespace.h"

#include <cstdlib>
#include <cstring>

PyObject *link_object = nullptr;

namespace {

// The `swigvarlink` type, made with the first link object and kept until
// release_link_object: each link object holds a reference to it too.
PyObject *varlink_type = nullptr;

// Link objects come from the process heap, so they go back to it when their
// count reaches zero (the module's own object: when its interpreter ends).
void varlink_dealloc(PyObject *self) {
    PyObject *type = reinterpret_cast<PyObject *>(Py_TYPE(self));
    std::free(self);
    Py_DECREF(type);
}

PyType_Slot varlink_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void *>(varlink_dealloc)},
    {Py_tp_getattr, reinterpret_cast<void *>(varlink_getattr)},
    {Py_tp_setattr, reinterpret_cast<void *>(varlink_setattr)},
    {Py_tp_repr, reinterpret_cast<void *>(varlink_repr)},
    {Py_tp_str, reinterpret_cast<void *>(varlink_str)},
    {0, nullptr},
};

// The dotted name gives the type the `__module__` "builtins" that a type
// without a module has; a name without a dot would draw a DeprecationWarning.
PyType_Spec varlink_spec = {
    "builtins.swigvarlink", static_cast<int>(sizeof(varlink_object)), 0, Py_TPFLAGS_DEFAULT,
    varlink_slots,
};

int ready_varlink_type() {
    if (varlink_type)
        return 0;
    PyObject *type = PyType_FromSpec(&varlink_spec);
    if (!type) {
        // CPython 3.11 gives null without an error when one of its
        // allocations for the type fails.
        if (!PyErr_Occurred())
            PyErr_NoMemory();
        return -1;
    }
    // Setting the name again makes the C-level type name the plain
    // "swigvarlink" too, as error messages and the type's repr show it.
    PyObject *name = PyObject_GetAttrString(type, "__name__");
    int status = name ? PyObject_SetAttrString(type, "__name__", name) : -1;
    Py_XDECREF(name);
    if (status < 0) {
        Py_DECREF(type);
        return -1;
    }
    varlink_type = type;
    return 0;
}

global_var *find_variable(PyObject *self, const char *name) {
    for (global_var *var = reinterpret_cast<varlink_object *>(self)->vars; var; var = var->next) {
        if (std::strcmp(var->name, name) == 0)
            return var;
    }
    PyErr_SetString(PyExc_NameError, "Unknown C global variable");
    return nullptr;
}

}  // namespace

PyObject *new_varlink() {
    if (ready_varlink_type() < 0)
        return nullptr;
    auto *link = static_cast<varlink_object *>(std::malloc(sizeof(varlink_object)));
    if (!link)
        return PyErr_NoMemory();
    // The new object takes its own reference to the heap type.
    PyObject_Init(reinterpret_cast<PyObject *>(link),
                  reinterpret_cast<PyTypeObject *>(varlink_type));
    link->vars = nullptr;
    return reinterpret_cast<PyObject *>(link);
}

int create_link_object() {
    if (!link_object)
        link_object = new_varlink();
    return link_object ? 0 : -1;
}

void release_link_object() {
    PyObject *link = link_object;
    PyObject *type = varlink_type;
    link_object = varlink_type = nullptr;
    Py_XDECREF(link);
    Py_XDECREF(type);
}

PyObject *varlink_repr(PyObject *) {
    return PyUnicode_FromString("<Global variables>");
}

PyObject *varlink_str(PyObject *self) {
    PyObject *names = PyList_New(0);
    PyObject *separator = PyUnicode_FromString(", ");
    PyObject *joined = nullptr;
    PyObject *result = nullptr;
    if (!names || !separator)
        goto done;
    for (global_var *var = reinterpret_cast<varlink_object *>(self)->vars; var; var = var->next) {
        PyObject *name = PyUnicode_FromString(var->name);
        int appended = name ? PyList_Append(names, name) : -1;
        Py_XDECREF(name);
        if (appended < 0)
            goto done;
    }
    joined = PyUnicode_Join(separator, names);
    if (joined)
        result = PyUnicode_FromFormat("Global variables { %U }", joined);
done:
    Py_XDECREF(joined);
    Py_XDECREF(separator);
    Py_XDECREF(names);
    return result;
}

int varlink_print(PyObject *self, FILE *stream, int) {
    std::fprintf(stream, "Global variables { ");
    for (global_var *var = reinterpret_cast<varlink_object *>(self)->vars; var; var = var->next) {
        std::fprintf(stream, "%s", var->name);
        if (var->next)
            std::fprintf(stream, ", ");
    }
    std::fprintf(stream, " }\n");
    return 0;
}

PyObject *varlink_getattr(PyObject *self, char *name) {
    global_var *var = find_variable(self, name);
    return var ? var->get() : nullptr;
}

int varlink_setattr(PyObject *self, char *name, PyObject *value) {
    global_var *var = find_variable(self, name);
    return var ? var->set(value) : 1;
}
