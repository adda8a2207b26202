// The constants installer and the link object of native global variables.
#include "module/module.h"
#include "namespace/namespace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string text_of(PyObject *object) {
    Py_ssize_t length = 0;
    const char *text = object ? PyUnicode_AsUTF8AndSize(object, &length) : nullptr;
    return text ? std::string(text, static_cast<size_t>(length)) : std::string("<not a str>");
}

// Type name and repr of the value under `name`, or "<missing>".
std::string describe(PyObject *dict, const char *name) {
    PyObject *value = PyDict_GetItemString(dict, name);
    if (!value)
        return "<missing>";
    PyObject *repr = PyObject_Repr(value);
    std::string out = std::string(Py_TYPE(value)->tp_name) + " " + text_of(repr);
    Py_XDECREF(repr);
    return out;
}

// The message of the pending error if it is of that type; clears it.
std::string take_error(PyObject *type) {
    if (!PyErr_ExceptionMatches(type))
        return "<other or no error>";
    PyObject *t, *v, *tb;
    PyErr_Fetch(&t, &v, &tb);
    PyErr_NormalizeException(&t, &v, &tb);
    PyObject *message = v ? PyObject_Str(v) : nullptr;
    std::string out = text_of(message);
    Py_XDECREF(message);
    Py_XDECREF(t);
    Py_XDECREF(v);
    Py_XDECREF(tb);
    return out;
}

// Runs Python source in a namespace of its own and gives that namespace (new reference).
PyObject *run_python(const char *source) {
    PyObject *globals = PyDict_New();
    PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
    Py_XDECREF(PyRun_String(source, Py_file_input, globals, globals));
    return globals;
}

class Namespace : public ::testing::Test {
protected:
    void SetUp() override {
        PyErr_Clear();
        dict = PyDict_New();
    }
    void TearDown() override {
        Py_XDECREF(dict);
        PyErr_Clear();
    }
    PyObject *dict = nullptr;
};

type_descriptor rimage_like{"_p_RImage", nullptr, "RImage *", nullptr, nullptr, nullptr, nullptr};
type_descriptor *rimage_slot = &rimage_like;
type_descriptor *empty_slot = nullptr;
const unsigned char four_bytes[] = {0x01, 0x02, 0x03, 0x04};
unsigned char big_block[600];
void *const sample_address = reinterpret_cast<void *>(uintptr_t{0x00a1b2c3});

TEST_F(Namespace, InstallsEachKindSkipsWhatCannotBeMade) {
    const const_entry table[] = {
        {CONST_INT, "answer", 42, 0.0, nullptr, nullptr},
        {CONST_INT, "negative", -7, 0.0, nullptr, nullptr},
        {CONST_FLOAT, "half", 0, 2.5, nullptr, nullptr},
        {9, "unknown", 1, 1.0, "x", &rimage_slot},
        {CONST_STRING, "greeting", 0, 0.0, "hello", nullptr},
        {CONST_POINTER, "image", 0, 0.0, sample_address, &rimage_slot},
        {CONST_POINTER, "nothing", 0, 0.0, nullptr, &rimage_slot},
        {CONST_PACKED, "packed", 4, 0.0, four_bytes, &rimage_slot},
        {CONST_PACKED, "too_long", 496, 0.0, big_block, &rimage_slot},
        {CONST_PACKED, "wrapping_count", static_cast<long>(std::min<long long>(LONG_MAX, 1LL << 32)), 0.0, big_block, &rimage_slot},
        {CONST_PACKED, "negative_count", -1, 0.0, big_block, &rimage_slot},
        {CONST_STRING, "no_characters", 0, 0.0, nullptr, nullptr},
        {CONST_POINTER, "no_type", 0, 0.0, sample_address, nullptr},
        {CONST_PACKED, "empty_slot", 4, 0.0, four_bytes, &empty_slot},
        {CONST_INT, "answer", 43, 0.0, nullptr, nullptr},  // a later row wins
        {CONST_INT, "after", 1, 0.0, nullptr, nullptr},
        {0, nullptr, 0, 0.0, nullptr, nullptr},
    };
    install_constants(dict, table);
    EXPECT_FALSE(PyErr_Occurred());

    std::string image = "'_c3b2a10000000000_p_RImage'";
    if (sizeof(void *) != 8)
        image = "'_c3b2a100_p_RImage'";
    const std::pair<const char *, std::string> expected[] = {
        {"answer", "int 43"},
        {"negative", "int -7"},
        {"half", "float 2.5"},
        {"greeting", "str 'hello'"},
        {"image", "str " + image},
        {"nothing", "NoneType None"},
        {"packed", "str '_01020304_p_RImage'"},
        {"after", "int 1"},
    };
    for (const auto &row : expected)
        EXPECT_EQ(describe(dict, row.first), row.second) << row.first;
    // Nothing else: skipped rows add no key.
    EXPECT_EQ(PyDict_Size(dict), static_cast<Py_ssize_t>(std::size(expected)));
}

TEST_F(Namespace, PointerRowsGoThroughTheTypesClass) {
    PyObject *classes = run_python("class W:\n"
                                   "    def __init__(self, t): self.this = t\n"
                                   "class Failing:\n"
                                   "    def __init__(self, t): raise ValueError(t)\n");
    PyObject *wrapper = PyDict_GetItemString(classes, "W");
    PyObject *failing_class = PyDict_GetItemString(classes, "Failing");
    ASSERT_TRUE(wrapper && failing_class);
    type_descriptor wrapped{"_p_RImage", nullptr, nullptr, wrapper, nullptr, nullptr, nullptr};
    type_descriptor failing{"_p_RImage", nullptr, nullptr, failing_class, nullptr, nullptr, nullptr};
    type_descriptor *wrapped_slot = &wrapped, *failing_slot = &failing;
    const const_entry table[] = {
        {CONST_POINTER, "wrapped", 0, 0.0, sample_address, &wrapped_slot},
        {CONST_POINTER, "fallback", 0, 0.0, sample_address, &failing_slot},
        {CONST_INT, "after", 5, 0.0, nullptr, nullptr},
        {0, nullptr, 0, 0.0, nullptr, nullptr},
    };
    install_constants(dict, table);
    // The class call's error stays for the caller; the text stands in.
    EXPECT_TRUE(PyErr_Occurred() && PyErr_ExceptionMatches(PyExc_ValueError));
    PyErr_Clear();

    PyObject *instance = PyDict_GetItemString(dict, "wrapped");
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(PyObject_IsInstance(instance, wrapped.client_data), 1);
    PyObject *this_text = PyObject_GetAttrString(instance, "this");
    EXPECT_EQ(text_of(this_text), text_of(PyDict_GetItemString(dict, "fallback")));
    Py_XDECREF(this_text);
    // Constants are installed without ownership.
    EXPECT_EQ(PyObject_HasAttrString(instance, "thisown"), 0);
    PyObject *fallback = PyDict_GetItemString(dict, "fallback");
    ASSERT_NE(fallback, nullptr);
    EXPECT_TRUE(PyUnicode_CheckExact(fallback));
    EXPECT_EQ(describe(dict, "after"), "int 5");
    Py_DECREF(classes);
}

TEST_F(Namespace, ModuleTableAddsNothing) {
    install_constants(dict, module_constants);
    EXPECT_EQ(PyDict_Size(dict), 0);
    EXPECT_FALSE(PyErr_Occurred());
}

// Variables of the test's own: each get and set writes what it received.
std::vector<std::string> calls;
PyObject *last_set_value = nullptr;  // borrowed, compared by identity only

int record_set(const char *what, PyObject *value, int status) {
    calls.push_back(std::string(what) + (value ? " value" : " null"));
    last_set_value = value;
    return status;
}
#define TEST_VARIABLE(id, number, set_status) \
    PyObject *get_##id() {                    \
        calls.push_back("get " #id);          \
        return PyLong_FromLong(number);       \
    }                                         \
    int set_##id(PyObject *value) { return record_set("set " #id, value, set_status); }
TEST_VARIABLE(a, 1, 0)
TEST_VARIABLE(b, 2, 7)
TEST_VARIABLE(c, 3, 0)
TEST_VARIABLE(second_a, 99, 0)
PyObject *get_failing() {
    calls.push_back("get failing");
    PyErr_SetString(PyExc_KeyError, "from get");
    return nullptr;
}
int set_failing(PyObject *value) {
    record_set("set failing", value, -1);
    PyErr_SetString(PyExc_ValueError, "from set");
    return -1;
}

global_var var_failing{"failing", get_failing, set_failing, nullptr};
global_var var_second_a{"a", get_second_a, set_second_a, &var_failing};
global_var var_c{"c", get_c, set_c, nullptr};
global_var var_b{"b", get_b, set_b, &var_c};
global_var var_a{"a", get_a, set_a, &var_b};

// One link object for the whole run: its reference count never reaches zero.
varlink_object *test_link() {
    static PyObject *link = new_varlink();
    return reinterpret_cast<varlink_object *>(link);
}

std::string printed(PyObject *link) {
    FILE *stream = std::tmpfile();
    if (!stream)
        return "<no tmpfile>";
    EXPECT_EQ(varlink_print(link, stream, 0), 0);
    std::rewind(stream);
    std::string out;
    for (int c; (c = std::fgetc(stream)) != EOF;)
        out += static_cast<char>(c);
    std::fclose(stream);
    return out;
}

class LinkObject : public Namespace {
protected:
    void SetUp() override {
        Namespace::SetUp();
        link = test_link();
        ASSERT_NE(link, nullptr);
        calls.clear();
        last_set_value = nullptr;
    }
    void TearDown() override {
        var_c.next = nullptr;
        if (link)
            link->vars = nullptr;
        Namespace::TearDown();
    }
    varlink_object *link = nullptr;
    PyObject *object() { return reinterpret_cast<PyObject *>(link); }
};

TEST_F(LinkObject, PrintsStrAndReprOfItsList) {
    global_var single{"only", get_a, set_a, nullptr};
    const std::pair<global_var *, std::string> cases[] = {
        {nullptr, "Global variables {  }"},
        {&single, "Global variables { only }"},
        {&var_a, "Global variables { a, b, c }"},
    };
    for (const auto &c : cases) {
        link->vars = c.first;
        EXPECT_EQ(printed(object()), c.second + "\n");
        PyObject *str = PyObject_Str(object());
        EXPECT_EQ(text_of(str), c.second);
        Py_XDECREF(str);
        PyObject *repr = PyObject_Repr(object());
        EXPECT_EQ(text_of(repr), "<Global variables>");
        Py_XDECREF(repr);
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(LinkObject, AttributesRouteToTheFirstVariableOfThatName) {
    var_c.next = &var_second_a;  // a, b, c, a, failing
    link->vars = &var_a;
    const std::pair<const char *, long> reads[] = {{"a", 1}, {"b", 2}, {"c", 3}};
    for (const auto &read : reads) {
        PyObject *value = PyObject_GetAttrString(object(), read.first);
        ASSERT_NE(value, nullptr) << read.first;
        EXPECT_EQ(PyLong_AsLong(value), read.second) << read.first;
        Py_DECREF(value);
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"get a", "get b", "get c"}));

    calls.clear();
    PyObject *value = PyLong_FromLong(123);
    EXPECT_EQ(PyObject_SetAttrString(object(), "c", value), 0);
    EXPECT_EQ(last_set_value, value);
    EXPECT_EQ(varlink_setattr(object(), const_cast<char *>("b"), value), 7);
    EXPECT_EQ(PyObject_SetAttrString(object(), "a", value), 0);
    EXPECT_EQ(PyObject_DelAttrString(object(), "a"), 0);
    EXPECT_EQ(last_set_value, nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"set c value", "set b value", "set a value", "set a null"}));
    EXPECT_FALSE(PyErr_Occurred());

    // A variable's own errors pass through unchanged.
    EXPECT_EQ(PyObject_GetAttrString(object(), "failing"), nullptr);
    EXPECT_EQ(take_error(PyExc_KeyError), "'from get'");
    EXPECT_EQ(varlink_setattr(object(), const_cast<char *>("failing"), value), -1);
    EXPECT_EQ(take_error(PyExc_ValueError), "from set");
    Py_DECREF(value);
}

TEST_F(LinkObject, UnknownNamesRaiseNameError) {
    PyObject *value = PyLong_FromLong(5);
    for (global_var *vars : {static_cast<global_var *>(nullptr), &var_a}) {
        link->vars = vars;
        for (const char *name : {"zz", "A", "ab", ""}) {
            SCOPED_TRACE(name);
            EXPECT_EQ(PyObject_GetAttrString(object(), name), nullptr);
            EXPECT_EQ(take_error(PyExc_NameError), "Unknown C global variable");
            EXPECT_EQ(varlink_setattr(object(), const_cast<char *>(name), value), 1);
            EXPECT_EQ(take_error(PyExc_NameError), "Unknown C global variable");
            EXPECT_NE(PyObject_DelAttrString(object(), name), 0);
            EXPECT_EQ(take_error(PyExc_NameError), "Unknown C global variable");
        }
    }
    EXPECT_TRUE(calls.empty());
    Py_DECREF(value);
}

// True when any value of the dict is the object itself.
bool holds(PyObject *dict, PyObject *object) {
    PyObject *key, *value;
    for (Py_ssize_t position = 0; PyDict_Next(dict, &position, &key, &value);)
        if (value == object)
            return true;
    return false;
}

TEST_F(Namespace, ModuleLinkObjectIsMadeOnceAndKeptOutOfNamespaces) {
    PyObject *modules[2] = {};
    // First with whatever pygame there is: its import error is not ours.
    modules[0] = initialise_module();
    if (!modules[0]) {
        EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_ImportError));
        PyErr_Clear();
    }
    PyObject *first_link = link_object;
    ASSERT_NE(first_link, nullptr);
    // Then with empty modules standing in for pygame's, so that a module comes back.
    PyObject *saved = run_python("import sys, types\n"
                                 "names = ('pygame', 'pygame.base', 'pygame.surface', 'pygame.surflock')\n"
                                 "saved = {n: sys.modules.pop(n, None) for n in names}\n"
                                 "sys.modules.update({n: types.ModuleType(n) for n in names})\n");
    modules[1] = initialise_module();
    EXPECT_NE(modules[1], nullptr);
    EXPECT_FALSE(PyErr_Occurred());
    PyErr_Clear();
    Py_XDECREF(PyRun_String("for n, m in saved.items():\n"
                            "    sys.modules.pop(n)\n"
                            "    if m is not None: sys.modules[n] = m\n",
                            Py_file_input, saved, saved));
    EXPECT_FALSE(PyErr_Occurred());
    Py_DECREF(saved);
    EXPECT_EQ(link_object, first_link);
    EXPECT_STREQ(Py_TYPE(link_object)->tp_name, "swigvarlink");
    EXPECT_EQ(reinterpret_cast<varlink_object *>(link_object)->vars, nullptr);
    EXPECT_EQ(printed(link_object), "Global variables {  }\n");

    PyObject *loaded = PySys_GetObject("modules");  // borrowed
    ASSERT_NE(loaded, nullptr);
    PyObject *key, *module;
    for (Py_ssize_t position = 0; PyDict_Next(loaded, &position, &key, &module);) {
        PyObject *namespace_dict = PyModule_Check(module) ? PyModule_GetDict(module) : nullptr;
        EXPECT_FALSE(namespace_dict && holds(namespace_dict, link_object)) << text_of(key);
    }
    for (PyObject *created : modules) {
        if (created) {
            EXPECT_FALSE(holds(PyModule_GetDict(created), link_object));
        }
        Py_XDECREF(created);
    }
}

}  // namespace
