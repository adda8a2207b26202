// Typed-pointer runtime: pointer texts, the registry of pointer types and the
// conversions between Python objects and typed C addresses.
//
// A pointer text is "_", two lower-case hex digits for each byte of the
// address in memory order, then the type tag ("_p_RImage"). The null pointer
// is the text "NULL". All functions run under the interpreter's global lock;
// the registry takes no lock of its own.
#ifndef QUORVELC_RUNTIME_H
#define QUORVELC_RUNTIME_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// Built against the limited API, references are counted by the running
// interpreter's own functions. Counting inlined from an older version's
// headers knows nothing of a later interpreter's immortal objects (None,
// interned texts) and would move their counts without end.
#ifdef Py_LIMITED_API
#undef Py_INCREF
#undef Py_DECREF
#undef Py_XDECREF
#undef Py_RETURN_NONE
#define Py_INCREF(object) Py_IncRef(reinterpret_cast<PyObject *>(object))
#define Py_DECREF(object) Py_DecRef(reinterpret_cast<PyObject *>(object))
#define Py_XDECREF(object) Py_DecRef(reinterpret_cast<PyObject *>(object))  // null is no-op
#define Py_RETURN_NONE return (Py_IncRef(Py_None), Py_None)
#endif

// Whether the host keeps a word's most significant byte first. Pointer texts
// and pixels are in memory order, so code that takes bytes as a word must know.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool host_is_big_endian = true;
#else
constexpr bool host_is_big_endian = false;
#endif

// One pointer type, or one tag accepted for it. A type is declared as a
// static array: entry 0 is its head, entries 1.. its equivalence list, and a
// final entry with a null name ends the array.
struct type_descriptor {
    const char *name;                  // type tag, e.g. "_p_RImage"
    void *(*converter)(void *);        // applied to an address accepted under this entry
    const char *display_name;          // C declaration, e.g. "RImage *"
    PyObject *client_data;             // Python class wrapping this type (borrowed), or null
    void *reserved;                    // kept for layout; unused
    type_descriptor *next;             // next entry of the equivalence list
    type_descriptor *prev;             // head: previously registered head; entry: the one before
};

// Flags of object_to_pointer.
enum : int {
    CONVERT_RAISE = 1,   // raise TypeError on failure
    CONVERT_DISOWN = 2,  // set the wrapper's `thisown` to 0 after success
};

// The module's declared types, in order, ended by a null row.
extern type_descriptor *const initial_types[];
// One registered head per row of initial_types, filled by register_initial_types.
extern type_descriptor *registered_types[];
// The row of _p_RImage in initial_types and registered_types.
constexpr int RIMAGE_TYPE = 0;
// Most recently registered head; older heads follow through `prev`. Null at load.
extern type_descriptor *type_list;

// Registers the module's own types, once per process; later calls do nothing.
void register_initial_types();

// Registers a descriptor array and gives the head it now lives under. A name
// registered before keeps its head: the old head's client data is copied into
// array[0], and the array's equivalents go in front of the older ones.
type_descriptor *register_type(type_descriptor *array);

// Finds the equivalence entry of `descriptor` whose name equals the tag
// (length-counted, so an embedded NUL never matches) and moves it to the front
// of the list. Gives null without a match, for a null descriptor or an empty list.
type_descriptor *check_type(const char *tag, Py_ssize_t tag_length, type_descriptor *descriptor);

// Applies the entry's converter, if the entry exists and has one.
void *cast_pointer(type_descriptor *entry, void *address);

// Decodes `count` bytes from 2 x count characters of `text` (which must hold
// that many) into `out` and gives the position after them. Only '0'-'9' and
// 'a'-'f' are digits; any other character leaves the running byte as it was.
// A count of 0 or less consumes nothing.
const char *unpack_hex(const char *text, unsigned char *out, int count);

// Encodes `count` bytes as 2 x count lower-case hex characters at `out` and
// gives the position after them. A count of 0 or less writes nothing.
char *pack_hex(char *out, const unsigned char *bytes, int count);

// The interned "this" through which wrappers are read, kept from
// keep_this_name (0, or -1 with the error set) until release_this_name. The
// module keeps it for the life of the interpreter that initialised it; while
// none is kept, each wrapper conversion makes a name of its own.
int keep_this_name();
void release_this_name();

// Converts a pointer text, or an object whose `this` holds one, into an
// address. None and "NULL" give the null address. With a descriptor the tag
// must be one of its equivalents; without one any tag is accepted.
// Gives 0 on success, -1 on failure. With CONVERT_RAISE a failure raises
// TypeError ("Type error. Expected <name>" or "Expected a pointer"); without
// it, no error of its own is set (an error of the `this` lookup stays set).
// An error of the `this` lookup that is no Exception (KeyboardInterrupt,
// SystemExit, GeneratorExit) is never replaced: -1 with that error set.
// A missing object (null) gives 0 and leaves *out untouched.
int object_to_pointer(PyObject *object, void **out, type_descriptor *descriptor, int flags);

// Writes the pointer text of `address` under the descriptor's tag. A null
// address gives None. With client data (a Python class) the class is called
// with the text and its instance is returned, with `thisown` set to 1 when
// `own` is set. Gives a new reference or null with the error set, except that
// a failing class call gives the plain text with the call's error still set.
PyObject *pointer_to_object(void *address, type_descriptor *descriptor, int own);

// Longest packed-data text: 495 bytes under "_p_RImage" still fit.
constexpr int PACKED_TEXT_LIMIT = 1000;

// Writes `size` bytes as a packed-data text under the descriptor's tag: a new
// reference to a str. Gives null WITHOUT an error when the size is negative or
// the text would pass PACKED_TEXT_LIMIT characters; null with the error set
// when the string cannot be made.
PyObject *packed_to_object(const void *bytes, int size, type_descriptor *descriptor);

// An error set aside so that more work can run (an import, a call) without
// a pending exception. Restoring keeps the newer error when that work failed,
// so the most recent failure is the one that stands.
struct pending_error {
    PyObject *type, *value, *traceback;  // owned
};
pending_error set_error_aside();
void restore_error_unless_newer(pending_error error);

#endif
