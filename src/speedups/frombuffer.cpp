// frombuffer's common case made in C: an exact numpy array of unsigned bytes
// whose layout passes every rule of Quorvel's Python path. Each step here
// only accepts; anything it does not accept, and any error on the way, goes
// to the Python function, so that results and errors are that path's.
#include "speedups/speedups.h"

#include <climits>
#include <cstring>

namespace {

// The formats made here, with their masks (filled by make_fast_frombuffer)
// and SDL's code (found on first use). Others go to the Python path.
struct known_format {
    const char *name;
    int bytes_per_pixel;
    pixel_format format;
};

known_format known_formats[] = {
    {"L", 1, {}},    {"RGB", 3, {}},  {"BGR", 3, {}},  {"RGBA", 4, {}},
    {"BGRA", 4, {}}, {"RGBX", 4, {}}, {"BGRX", 4, {}},
};
constexpr int DEFAULT_FORMAT = 1;  // frombuffer's default, "RGB"

// The first side that no SDL is given, as in the Python path.
constexpr Py_ssize_t SIDE_LIMIT = (Py_ssize_t{1} << 30) - 1;

// What a built-in frombuffer holds, in a list of its own: the Python
// function, the keeper table and its pop, the names it looks up, and
// numpy.ndarray once numpy is imported (None before). They belong to the
// interpreter that imported Quorvel, so none of them is kept process-wide:
// another interpreter life makes its own.
enum state_index { PYTHON_FROMBUFFER, KEPT, KEPT_POP, ARRAY_STRUCT, NUMPY, NDARRAY, STATE_SIZE };

// The arguments of one call, borrowed; null where not given.
struct call_arguments {
    PyObject *buffer, *size, *format, *pitch;
};

// Takes frombuffer's positional arguments; false for too few or too many.
bool take_positional(PyObject *args, call_arguments *out) {
    Py_ssize_t count = PyTuple_Size(args);
    if (count < 1 || count > 4)
        return false;
    PyObject **slots[] = {&out->buffer, &out->size, &out->format, &out->pitch};
    for (Py_ssize_t i = 0; i < count; ++i)
        *slots[i] = PyTuple_GetItem(args, i);
    return true;
}

// Takes frombuffer's keyword arguments (`kwargs` may be null); false for any
// that the Python function should judge: an unknown name, or one given twice.
bool take_keywords(PyObject *kwargs, call_arguments *out) {
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (kwargs && PyDict_Next(kwargs, &position, &key, &value)) {
        PyObject **slot = nullptr;
        if (PyUnicode_CompareWithASCIIString(key, "size") == 0)
            slot = &out->size;
        else if (PyUnicode_CompareWithASCIIString(key, "format") == 0)
            slot = &out->format;
        else if (PyUnicode_CompareWithASCIIString(key, "pitch") == 0)
            slot = &out->pitch;
        if (!slot || *slot)
            return false;
        *slot = value;
    }
    return true;
}

// The known format named by `name` (null: the default), or null.
known_format *find_format(PyObject *name) {
    if (!name)
        return &known_formats[DEFAULT_FORMAT];
    if (!PyUnicode_CheckExact(name))
        return nullptr;
    Py_ssize_t length;
    const char *text = PyUnicode_AsUTF8AndSize(name, &length);
    if (!text)
        return nullptr;
    for (known_format &known : known_formats)
        if (static_cast<Py_ssize_t>(std::strlen(known.name)) == length &&
            std::memcmp(known.name, text, length) == 0)
            return &known;
    return nullptr;
}

// numpy.ndarray, borrowed from `state`, where it is kept once numpy is
// imported (an array cannot exist before); null while numpy is not.
PyObject *ndarray_type(PyObject *state) {
    PyObject *ndarray = PyList_GetItem(state, NDARRAY);
    if (ndarray != Py_None)
        return ndarray;
    PyObject *numpy = PyImport_GetModule(PyList_GetItem(state, NUMPY));
    if (!numpy)
        return nullptr;
    ndarray = PyObject_GetAttrString(numpy, "ndarray");
    Py_DECREF(numpy);
    if (!ndarray || PyList_SetItem(state, NDARRAY, ndarray) < 0)  // takes the reference
        return nullptr;
    return ndarray;
}

// An exact int that fits a Py_ssize_t, into `out`.
bool as_size(PyObject *object, Py_ssize_t *out) {
    if (!PyLong_CheckExact(object))
        return false;
    *out = PyLong_AsSsize_t(object);
    return !(*out == -1 && PyErr_Occurred());
}

// numpy's array interface in C, `__array_struct__`: a capsule holding this
// struct (numpy's documented layout; its first field is always 2). It tells what
// `__array_interface__` tells without building a dict, a twentieth of the cost.
struct array_struct {
    int two;  // 2, a check that the capsule holds this struct
    int nd;
    char typekind;  // the typestr's kind: 'u' for unsigned
    int itemsize;
    int flags;
    Py_ssize_t *shape;
    Py_ssize_t *strides;  // null for C-contiguous
    void *data;
    PyObject *descr;
};
constexpr int ARRAY_WRITEABLE = 0x400;

// The rows an array describes for `known`, when every rule of the Python
// path passes: unsigned bytes, writable, 2 or 3 dimensions, channels of the
// format, packed pixels and channels, a positive row stride, size and pitch
// agreeing, sides and pitch within C ints. The drawing rules (INT_MAX,
// alignment, null address) follow in surface_over_rows.
bool rows_of(const array_struct &array, const call_arguments &call, const known_format &known,
             pixel_rows *rows) {
    if (array.two != 2 || array.typekind != 'u' || array.itemsize != 1 ||
        !(array.flags & ARRAY_WRITEABLE) || (array.nd != 2 && array.nd != 3) || !array.shape)
        return false;
    Py_ssize_t height = array.shape[0], width = array.shape[1], bpp = known.bytes_per_pixel;
    if (array.nd == 2 ? bpp != 1 : array.shape[2] != bpp)
        return false;
    if (width <= 0 || height <= 0 || width >= SIDE_LIMIT || height >= SIDE_LIMIT)
        return false;
    Py_ssize_t strides[3] = {width * bpp, bpp, 1};  // C-contiguous
    if (array.strides)
        for (int i = 0; i < array.nd; ++i)
            strides[i] = array.strides[i];
    if ((array.nd == 3 && bpp > 1 && strides[2] != 1) || (width > 1 && strides[1] != bpp))
        return false;
    Py_ssize_t row_stride = height > 1 ? strides[0] : width * bpp;
    if (row_stride <= 0 || row_stride > INT_MAX)
        return false;
    if (call.size && call.size != Py_None) {
        Py_ssize_t size[2];
        if (!PyTuple_CheckExact(call.size) || PyTuple_Size(call.size) != 2 ||
            !as_size(PyTuple_GetItem(call.size, 0), &size[0]) ||
            !as_size(PyTuple_GetItem(call.size, 1), &size[1]) || size[0] != width ||
            size[1] != height)
            return false;
    }
    if (call.pitch && call.pitch != Py_None) {
        Py_ssize_t pitch;
        if (!as_size(call.pitch, &pitch) || pitch != strides[0])
            return false;
    }
    rows->pixels = static_cast<char *>(array.data);
    rows->width = static_cast<int>(width);
    rows->height = static_cast<int>(height);
    rows->row_stride = static_cast<int>(row_stride);
    return true;
}

// The Surface for the common case, its keeper registered in `kept`: a new
// reference, or null (an error may be set) for the Python path to take over.
// `state` is the function's borrowed state list.
PyObject *fast_surface(PyObject *state, const call_arguments &call) {
    // Exact arrays only: a subclass's buffer may describe other memory than
    // its interface.
    if (reinterpret_cast<PyObject *>(Py_TYPE(call.buffer)) != ndarray_type(state))
        return nullptr;
    known_format *known = find_format(call.format);
    if (!known)
        return nullptr;
    PyObject *capsule = PyObject_GetAttr(call.buffer, PyList_GetItem(state, ARRAY_STRUCT));
    if (!capsule)
        return nullptr;
    pixel_rows rows;
    auto *array =
        PyCapsule_CheckExact(capsule)
            ? static_cast<array_struct *>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)))
            : nullptr;
    bool accepted = array && rows_of(*array, call, *known, &rows);
    Py_DECREF(capsule);
    if (!accepted)
        return nullptr;

    PyObject *export_ = nullptr, *keep = nullptr, *surface = nullptr, *key = nullptr;
    // The memoryview holds the array's export for the Surface's life, as the
    // Python path's keeper does: the array cannot be resized under it.
    export_ = PyMemoryView_FromObject(call.buffer);
    if (!export_)
        goto fail;
    keep = PyTuple_Pack(2, call.buffer, export_);
    if (!keep)
        goto fail;
    surface = surface_over_rows(rows, &known->format);
    if (!surface || surface == Py_None)
        goto fail;
    key = PyWeakref_NewRef(surface, PyList_GetItem(state, KEPT_POP));
    if (!key || PyDict_SetItem(PyList_GetItem(state, KEPT), key, keep) < 0)
        goto fail;
    Py_DECREF(key);
    Py_DECREF(keep);
    Py_DECREF(export_);
    return surface;
fail:
    Py_XDECREF(key);
    Py_XDECREF(surface);
    Py_XDECREF(keep);
    Py_XDECREF(export_);
    return nullptr;
}

// The built-in frombuffer over its state list.
PyObject *fast_frombuffer(PyObject *state, PyObject *args, PyObject *kwargs) {
    call_arguments call = {nullptr, nullptr, nullptr, nullptr};
    PyObject *surface = take_positional(args, &call) && take_keywords(kwargs, &call)
                            ? fast_surface(state, call)
                            : nullptr;
    if (surface)
        return surface;
    PyErr_Clear();  // the Python path raises its own error, if any
    return PyObject_Call(PyList_GetItem(state, PYTHON_FROMBUFFER), args, kwargs);
}

PyMethodDef fast_frombuffer_definition = {
    "frombuffer",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(fast_frombuffer)),
    METH_VARARGS | METH_KEYWORDS,
    "frombuffer(buffer, size=None, format='RGB', pitch=None)\n--\n\n"
    "A new Surface over the pixels of buffer, which it keeps referenced and\n"
    "exported until the Surface is collected (Quorvel.frombuffer).",
};

}  // namespace

PyObject *make_fast_frombuffer(PyObject *, PyObject *args) {
    PyObject *python_frombuffer, *kept;
    if (!PyArg_ParseTuple(args, "OO!:fast_frombuffer", &python_frombuffer, &PyDict_Type, &kept))
        return nullptr;
    if (!PyCallable_Check(python_frombuffer)) {
        PyErr_SetString(PyExc_TypeError, "fast_frombuffer: python_frombuffer must be callable");
        return nullptr;
    }
    // Plain data, the same in every interpreter: made once per process.
    static bool masks_made = false;
    for (known_format &known : known_formats)
        if (!masks_made)
            format_for_order(known.name, static_cast<Py_ssize_t>(std::strlen(known.name)),
                             &known.format);
    masks_made = true;
    // Each item is made only while none before it failed.
    PyObject *pop = PyObject_GetAttrString(kept, "pop");
    PyObject *array_struct_name = pop ? PyUnicode_InternFromString("__array_struct__") : nullptr;
    PyObject *numpy_name = array_struct_name ? PyUnicode_InternFromString("numpy") : nullptr;
    PyObject *state = numpy_name ? PyList_New(STATE_SIZE) : nullptr;
    if (state) {
        PyObject *items[STATE_SIZE] = {python_frombuffer, kept,       pop,
                                       array_struct_name, numpy_name, Py_None};
        for (int i = 0; i < STATE_SIZE; ++i) {
            Py_INCREF(items[i]);
            PyList_SetItem(state, i, items[i]);  // takes the reference; cannot fail here
        }
    }
    Py_XDECREF(numpy_name);
    Py_XDECREF(array_struct_name);
    Py_XDECREF(pop);
    if (!state)
        return nullptr;
    PyObject *module_name = PyUnicode_FromString("Quorvel");
    PyObject *function =
        module_name ? PyCFunction_NewEx(&fast_frombuffer_definition, state, module_name) : nullptr;
    Py_XDECREF(module_name);
    Py_DECREF(state);
    return function;
}
