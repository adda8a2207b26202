// One embedded interpreter for a whole fuzzing run, shared by the harnesses.
#ifndef QUORVELC_FUZZ_EMBEDDED_PYTHON_H
#define QUORVELC_FUZZ_EMBEDDED_PYTHON_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// Starts the interpreter with the C allocator (so that every Python object is
// a heap block of its own that AddressSanitizer watches), registers the
// module's pointer types and, with `with_pygame`, imports pygame.surface and
// copies its C-API entries and SDL entry points as the module's import does.
// Aborts the run when any of it fails: a harness without its setup would
// report nothing.
void start_embedded_python(bool with_pygame);

// Aborts with the message and the pending Python error, if any: a broken
// invariant is a finding.
[[noreturn]] void fuzz_fail(const char *message);

#define FUZZ_CHECK(condition)                                                   \
    do {                                                                        \
        if (!(condition))                                                       \
            fuzz_fail(__FILE__ ":" QUORVELC_FUZZ_STRING(__LINE__) ": " #condition); \
    } while (0)
#define QUORVELC_FUZZ_STRING(x) QUORVELC_FUZZ_STRING2(x)
#define QUORVELC_FUZZ_STRING2(x) #x

#endif
