#include "embedded_python.h"

#include "module/module.h"
#include "runtime/runtime.h"  // register_initial_types

#include <cstdio>
#include <cstdlib>

void fuzz_fail(const char *message, const char *file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s:%d: %s\n", file, line, message);
    if (Py_IsInitialized() && PyErr_Occurred())
        PyErr_Print();
    std::abort();
}

PyObject *run_python(const char *code) {
    PyObject *globals = PyDict_New();
    PyObject *done = globals ? PyRun_String(code, Py_file_input, globals, globals) : nullptr;
    if (!done)
        fuzz_fail(code);
    Py_DECREF(done);
    return globals;
}

void start_embedded_python(bool with_pygame) {
    PyPreConfig preconfig;
    PyPreConfig_InitPythonConfig(&preconfig);
    preconfig.allocator = PYMEM_ALLOCATOR_MALLOC;
    if (PyStatus_Exception(Py_PreInitialize(&preconfig)))
        fuzz_fail("Python pre-initialisation");
    PyConfig config;
    PyConfig_InitPythonConfig(&config);
    config.install_signal_handlers = 0;  // libFuzzer keeps its own
    PyStatus status = Py_InitializeFromConfig(&config);
    PyConfig_Clear(&config);
    if (PyStatus_Exception(status))
        fuzz_fail("Python initialisation");
    register_initial_types();
    if (!with_pygame)
        return;
    // PYTHONPATH and the dummy SDL drivers come from scripts/fuzz.py.
    char pixels[3] = {};
    RImage record{};
    record.channels = 3, record.depth = 8, record.width = record.height = 1;
    record.pixels = pixels, record.row_stride = 3;
    PyObject *surface = import_pygame_and_sdl() == 0 ? surface_from_image(&record) : nullptr;
    if (!surface || surface == Py_None)
        fuzz_fail("pygame or the SDL it loaded was not found (is PYTHONPATH the venv's?)");
    Py_DECREF(surface);
}
