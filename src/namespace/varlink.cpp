// The `swigvarlink` type: attribute access routed to native global variables.
#include "namespace/namespace.h"

#include <cstdlib>
#include <cstring>

PyObject *link_object = nullptr;

namespace {

PyTypeObject varlink_type;

// Link objects come from the process heap, so they go back to it should a
// reference count ever reach zero (the module's own object never does).
void varlink_dealloc(PyObject *self) {
    std::free(self);
}

int ready_varlink_type() {
    if (varlink_type.tp_flags & Py_TPFLAGS_READY)
        return 0;
    // Filled field by field; every field not named here stays zero.
    PyTypeObject &type = varlink_type;
    Py_SET_REFCNT(&type, 1);
    type.tp_name = "swigvarlink";
    type.tp_basicsize = sizeof(varlink_object);
    type.tp_itemsize = 0;
    type.tp_dealloc = varlink_dealloc;
    type.tp_getattr = varlink_getattr;
    type.tp_setattr = varlink_setattr;
    type.tp_repr = varlink_repr;
    type.tp_str = varlink_str;
    type.tp_flags = Py_TPFLAGS_DEFAULT;
    return PyType_Ready(&type);
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
    PyObject_Init(reinterpret_cast<PyObject *>(link), &varlink_type);
    link->vars = nullptr;
    return reinterpret_cast<PyObject *>(link);
}

int create_link_object() {
    if (!link_object)
        link_object = new_varlink();
    return link_object ? 0 : -1;
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
