// Module creation, the method table and the copy of pygame's C-API entries.
#include "module/module.h"
#include "namespace/namespace.h"
#include "runtime/runtime.h"

void *pygame_api_slots[PYGAME_API_SLOT_COUNT];

namespace {

PyMethodDef method_table[] = {
    {"RImage_asSDLSurface", image_as_sdl_surface_call, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// Single-phase, without module state: everything the module keeps is process-wide.
PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "Quorvelc", nullptr, -1, method_table,
    nullptr, nullptr, nullptr, nullptr,
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

// Copies `count` entries of the module's C-API capsule into the slot table.
// A missing or foreign entry copies nothing and raises nothing. `module` is borrowed.
void copy_capsule_entries(PyObject *module, const pygame_api_source &source) {
    if (!PyModule_Check(module))
        return;
    PyObject *capsule = PyDict_GetItemString(PyModule_GetDict(module), "_PYGAME_C_API");
    if (!capsule || !PyCapsule_CheckExact(capsule))
        return;
    void **entries = static_cast<void **>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)));
    if (!entries) {
        PyErr_Clear();
        return;
    }
    for (int i = 0; i < source.count; ++i)
        pygame_api_slots[source.first_slot + i] = entries[i];
}

}  // namespace

int import_pygame_apis() {
    int status = 0;
    for (const pygame_api_source &source : pygame_api_sources) {
        // An import cannot run while an error is pending: an earlier failure
        // is set aside, and this import's own failure replaces it.
        pending_error earlier = set_error_aside();
        PyObject *module = PyImport_ImportModule(source.module_name);
        if (module) {
            copy_capsule_entries(module, source);
            Py_DECREF(module);
        } else {
            status = -1;
        }
        restore_error_unless_newer(earlier);
    }
    find_sdl_entry_points(pygame_api_slots[PYGAME_SURFACE_NEW_SLOT]);
    return status;
}

PyObject *initialise_module() {
    if (create_link_object() < 0)
        return nullptr;
    PyObject *module = PyModule_Create(&module_definition);
    if (!module)
        return nullptr;
    register_initial_types();
    install_constants(PyModule_GetDict(module), module_constants);
    import_pygame_apis();
    if (PyErr_Occurred()) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
