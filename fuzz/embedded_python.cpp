#include "embedded_python.h"

#include "module/module.h"
#include "runtime/runtime.h"

#include <cstdio>
#include <cstdlib>

void fuzz_fail(const char *message) {
    std::fprintf(stderr, "fuzz check failed: %s\n", message);
    if (Py_IsInitialized() && PyErr_Occurred())
        PyErr_Print();
    std::abort();
}

void start_embedded_python(bool with_pygame) {
    // No screen and no greeting; PYTHONPATH (set by scripts/fuzz.py) finds pygame.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("PYGAME_HIDE_SUPPORT_PROMPT", "1", 1);

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
    if (!registered_types[RIMAGE_TYPE])
        fuzz_fail("the RImage pointer type is not registered");
    if (!with_pygame)
        return;
    PyObject *surface_module = PyImport_ImportModule("pygame.surface");
    if (!surface_module)
        fuzz_fail("import pygame.surface (is PYTHONPATH set to the venv's site-packages?)");
    Py_DECREF(surface_module);
    if (import_pygame_and_sdl() < 0 || !pygame_api_slots[PYGAME_SURFACE_NEW_SLOT] ||
        !sdl_api.create_rgb_surface_with_format_from || !sdl_api.free_surface)
        fuzz_fail("pygame's C API or SDL's entry points were not found");
}
