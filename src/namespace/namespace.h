// Namespace facilities: a table of native constants installed into a module
// namespace, and the link object through which native global variables read
// and write as attributes.
#ifndef QUORVELC_NAMESPACE_H
#define QUORVELC_NAMESPACE_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdio>

#include "runtime/runtime.h"

// Kinds of constant; 0 ends a table, any other unknown kind is skipped.
enum : int {
    CONST_INT = 1,      // integer_value
    CONST_FLOAT = 2,    // real_value
    CONST_STRING = 3,   // data: NUL-terminated UTF-8 characters
    CONST_POINTER = 4,  // data: the address, typed by *type_ref
    CONST_PACKED = 5,   // data: integer_value bytes, typed by *type_ref
};

struct const_entry {
    int kind;
    const char *name;
    long integer_value;
    double real_value;
    const void *data;
    type_descriptor **type_ref;  // followed at install time, after registration
};

// The module's own constants: the end row alone.
extern const const_entry module_constants[];

// Puts each row's object into `dict` under its name, a later row replacing an
// earlier one. A row whose object cannot be made is left out, and any error
// its making set stays set for the caller to see; the installer raises none.
void install_constants(PyObject *dict, const const_entry *table);

// One native global variable: `get` gives a new reference or null with an
// error; `set` gives 0 or -1 and receives null for a deletion.
struct global_var {
    const char *name;
    PyObject *(*get)();
    int (*set)(PyObject *value);
    global_var *next;
};

struct varlink_object {
    PyObject_HEAD
    global_var *vars;
};

// The module's link object (Python type `swigvarlink`): made by
// create_link_object and kept until release_link_object. The module keeps it
// for the life of the interpreter that initialised it.
extern PyObject *link_object;

// Makes the link object if there is none yet. Gives 0, or -1 with the error set.
int create_link_object();

// Releases the link object and the reference kept to its type, which then
// go with the interpreter that made them; the next create_link_object makes
// both anew.
void release_link_object();

// A new link object with an empty variable list and a reference count of 1,
// allocated from the process heap; null with the error set on failure.
PyObject *new_varlink();

// "<Global variables>", as a new reference.
PyObject *varlink_repr(PyObject *self);

// "Global variables { a, b }", as a new reference: what varlink_print writes,
// without the final newline.
PyObject *varlink_str(PyObject *self);

// Writes "Global variables { " + the names joined by ", " + " }\n" to the
// stream, and gives 0. The flags are ignored.
int varlink_print(PyObject *self, FILE *stream, int flags);

// Reads the first variable of that name: a new reference, or null with
// NameError "Unknown C global variable" (or the get function's own error).
PyObject *varlink_getattr(PyObject *self, char *name);

// Writes (or, with a null value, deletes) the first variable of that name:
// the set function's status, or 1 with NameError "Unknown C global variable".
int varlink_setattr(PyObject *self, char *name, PyObject *value);

#endif
