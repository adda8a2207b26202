// One embedded interpreter for a whole fuzzing run, shared by the harnesses.
#ifndef QUORVELC_FUZZ_EMBEDDED_PYTHON_H
#define QUORVELC_FUZZ_EMBEDDED_PYTHON_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// Starts the interpreter on the C allocator (each object its own heap block,
// watched by AddressSanitizer) and registers the module's pointer types; with
// `with_pygame`, also imports pygame's C API and SDL and checks that a small
// record becomes a Surface. Aborts when any of it fails.
void start_embedded_python(bool with_pygame);

// Runs Python code in a namespace of its own and gives that namespace (a new
// reference, kept for the run); aborts when the code fails.
PyObject *run_python(const char *code);

// Aborts with the message and the pending Python error: a broken check is a finding.
[[noreturn]] void fuzz_fail(const char *message, const char *file = "", int line = 0);
#define FUZZ_CHECK(condition) ((condition) ? void() : fuzz_fail(#condition, __FILE__, __LINE__))

#endif
