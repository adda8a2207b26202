// One embedded interpreter for a whole fuzzing run, shared by the harnesses.
#ifndef QUORVELC_FUZZ_EMBEDDED_PYTHON_H
#define QUORVELC_FUZZ_EMBEDDED_PYTHON_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// Starts Python on the C allocator (each object a heap block that AddressSanitizer
// watches) and registers the module's pointer types; `with_pygame` also imports
// pygame and SDL and checks that a small record becomes a Surface.
void start_embedded_python(bool with_pygame);
// Runs code in a namespace of its own, which it gives (a new reference).
PyObject *run_python(const char *code);
// Aborts with the message and the pending Python error, if any: a finding.
[[noreturn]] void fuzz_fail(const char *message, const char *file = "", int line = 0);
#define FUZZ_CHECK(condition) ((condition) ? void() : fuzz_fail(#condition, __FILE__, __LINE__))

#endif
