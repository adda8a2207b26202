// Quorvel._speedups: the private compiled helpers of the Python package
// Quorvel. Surfaces in every byte-aligned channel order the core can mask
// (the X formats among them), and frombuffer's common case made in C.
#ifndef QUORVEL_SPEEDUPS_H
#define QUORVEL_SPEEDUPS_H

#include "module/module.h"
#include "runtime/runtime.h"

// surface_at(address, width, height, pitch, order): a new pygame Surface over
// the memory at `address`, one byte per letter of `order` (3 or 4 of R, G, B
// and A or X), or None when SDL cannot make that format or the layout breaks
// the record rules. Nothing is kept: the caller keeps the memory alive.
// Gives a new reference, or null with TypeError or OverflowError for bad
// arguments, ValueError for an order that names no pixel format, or the
// errors of surface_over_rows.
PyObject *surface_at(PyObject *self, PyObject *args);

// fast_frombuffer(python_frombuffer, kept): a new built-in function with
// frombuffer's signature that makes the Surface of an exact numpy array
// itself when every rule of the Python path passes, registering its keeper
// in `kept` as that path does, and calls `python_frombuffer` with the same
// arguments for every other input. Gives a new reference, or null with
// TypeError when `python_frombuffer` is not callable or `kept` not a dict.
PyObject *make_fast_frombuffer(PyObject *self, PyObject *args);

#endif
