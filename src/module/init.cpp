// Module creation, the method table and the copy of pygame's C-API entries.
#include "module/module.h"
#include "namespace/namespace.h"
#include "runtime/runtime.h"

#include <algorithm>
#include <iterator>

void *pygame_api_slots[PYGAME_API_SLOT_COUNT];

namespace {

// The method row holds every function as a PyCFunction; the flags say the real
// signature. The cast goes through void (*)(void), which casts to any function.
PyMethodDef method_table[] = {
    {"RImage_asSDLSurface",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(surface_from_argument)),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// Single-phase, without module state: everything the module keeps is process-wide.
PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "Quorvelc",
    nullptr,
    -1,
    method_table,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

struct pygame_api_source {
    const char *module_name;
    int first_slot;
    int count;
};

const pygame_api_source pygame_api_sources[] = {
    {"pygame.base", 0, 10},
    {"pygame.surface", PYGAME_SURFACE_FIRST_SLOT, 3},
    {"pygame.surflock", 44, 5},
};

static_assert(PYGAME_SURFACE_NEW_SLOT == 41, "pygame's surface constructor is slot 41");

// Copies `count` entries of the module's C-API capsule to `slots`.
// A missing or foreign entry copies nothing and raises nothing; a lookup that
// failed (memory ran out) gives -1 with its error set, copying nothing.
// `module` is borrowed.
int copy_capsule_entries(PyObject *module, void **slots, int count) {
    if (!PyModule_Check(module))
        return 0;
    // The lookup must tell "absent" from "failed": the plain string lookup
    // would swallow a MemoryError and leave a module without a constructor.
    PyObject *key = PyUnicode_FromString("_PYGAME_C_API");
    if (!key)
        return -1;
    PyObject *capsule = PyDict_GetItemWithError(PyModule_GetDict(module), key);  // borrowed
    Py_DECREF(key);
    if (!capsule)
        return PyErr_Occurred() ? -1 : 0;
    if (!PyCapsule_CheckExact(capsule))
        return 0;
    void **entries =
        static_cast<void **>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)));
    if (!entries) {
        PyErr_Clear();
        return 0;
    }
    for (int i = 0; i < count; ++i)
        slots[i] = entries[i];
    return 0;
}

// Finalising an interpreter clears its dict, and with it this capsule, whose
// destructor lets the objects that the interpreter made go with it: a later
// interpreter in the process makes its own.
void release_interpreter_objects(PyObject *) {
    release_link_object();
    release_this_name();
}

constexpr char interpreter_objects_name[] = "Quorvelc.interpreter_objects";

// The objects that belong to an interpreter (the link object, its type and
// the `this` name) are made by the first initialisation in each interpreter
// life, and a capsule in that interpreter's dict releases them when it ends.
// While they exist, their interpreter lives: a repeated initialisation, or
// one in another interpreter, keeps them as they are. Gives 0, or -1 with the
// error set, having kept nothing.
int keep_interpreter_objects() {
    if (link_object)
        return 0;
    // A new interpreter: no entry of an earlier one's pygame is kept.
    std::fill(std::begin(pygame_api_slots), std::end(pygame_api_slots), nullptr);
    find_sdl_entry_points(nullptr);
    PyObject *dict = PyInterpreterState_GetDict(PyInterpreterState_Get());  // borrowed
    if (!dict) {
        // No error is set when the dict could not be made.
        PyErr_NoMemory();
        return -1;
    }
    // Keyed by the address of this copy's link object: another copy of the
    // module loaded in the process (from another file) keeps a capsule of its own.
    void *this_copy = static_cast<void *>(&link_object);
    PyObject *key = PyLong_FromVoidPtr(this_copy);
    PyObject *capsule = nullptr;
    int status = -1;
    if (key && create_link_object() == 0 && keep_this_name() == 0) {
        capsule = PyCapsule_New(this_copy, interpreter_objects_name, release_interpreter_objects);
        status = capsule ? PyDict_SetItem(dict, key, capsule) : -1;
    }
    // The dict holds the capsule now; after a failure its destructor releases
    // what was made, and so does the call after it when there is none.
    Py_XDECREF(capsule);
    Py_XDECREF(key);
    if (status < 0)
        release_interpreter_objects(nullptr);
    return status;
}

}  // namespace

int import_pygame_api(const char *module_name, int first_slot, int count) {
    PyObject *module = PyImport_ImportModule(module_name);
    if (!module)
        return -1;
    int status = copy_capsule_entries(module, pygame_api_slots + first_slot, count);
    Py_DECREF(module);
    return status;
}

int import_pygame_and_sdl() {
    int status = 0;
    for (const pygame_api_source &source : pygame_api_sources) {
        // An import cannot run while an error is pending: an earlier failure
        // is set aside, and this import's own failure replaces it.
        pending_error earlier = set_error_aside();
        if (import_pygame_api(source.module_name, source.first_slot, source.count) < 0)
            status = -1;
        restore_error_unless_newer(earlier);
    }
    // A failed import fails the module's, and SDL is left as it was: in an
    // isolated sub-interpreter, whose import of pygame fails, initialisation
    // then changes nothing that the main interpreter is using.
    if (status == 0)
        find_sdl_entry_points(pygame_api_slots[PYGAME_SURFACE_NEW_SLOT]);
    return status;
}

PyObject *initialise_module() {
    if (keep_interpreter_objects() < 0)
        return nullptr;
    PyObject *module = PyModule_Create(&module_definition);
    if (!module)
        return nullptr;
    register_initial_types();
    install_constants(PyModule_GetDict(module), module_constants);
    import_pygame_and_sdl();
    if (PyErr_Occurred()) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
