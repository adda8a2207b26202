// Module initialisation inside the embedded interpreter, run more than once.
#include "module/module.h"
#include "namespace/namespace.h"
#include "runtime/runtime.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(InitialiseModule, RepeatedInitialisationRegistersRImageOnce) {
    type_descriptor *first = nullptr;
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("initialisation " + std::to_string(round));
        PyObject *module = initialise_module();
        if (module) {
            EXPECT_EQ(PyErr_Occurred(), nullptr);
            EXPECT_TRUE(PyObject_HasAttrString(module, "RImage_asSDLSurface"));
            Py_DECREF(module);
        } else {
            // pygame is not importable by the embedded interpreter: its
            // import error is what initialisation reports.
            EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_ImportError));
            PyErr_Clear();
        }
        if (round == 1)
            first = registered_types[RIMAGE_TYPE];
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(registered_types[RIMAGE_TYPE], first);
        EXPECT_STREQ(first->name, "_p_RImage");
        EXPECT_STREQ(first->display_name, "RImage *");

        int heads = 0;
        int steps = 0;
        type_descriptor *head = type_list;
        for (; head && steps < 100000; head = head->prev, ++steps) {
            if (std::strcmp(head->name, "_p_RImage") == 0) {
                ++heads;
                EXPECT_EQ(head, first);
            }
        }
        EXPECT_EQ(head, nullptr) << "the type list does not end";
        EXPECT_EQ(heads, 1);

        // One equivalent, _p_RImage itself; a second registration would have
        // chained the array onto itself.
        int equivalents = 0;
        for (type_descriptor *entry = first->next; entry && equivalents < 100; entry = entry->next) {
            EXPECT_STREQ(entry->name, "_p_RImage");
            EXPECT_EQ(entry->prev, first);
            ++equivalents;
        }
        EXPECT_EQ(equivalents, 1);
    }
}

// Finalising an interpreter clears its dict: what the module made for that
// interpreter must go with the mark it keeps there, and the next
// initialisation, in whichever interpreter runs it then, makes it anew.
TEST(InitialiseModule, InterpreterObjectsGoWithTheInterpreterAndComeBack) {
    PyObject *interpreter_dict = PyInterpreterState_GetDict(PyInterpreterState_Get());  // borrowed
    PyObject *key = PyLong_FromVoidPtr(static_cast<void *>(&link_object));
    ASSERT_TRUE(interpreter_dict && key);
    for (int life = 1; life <= 2; ++life) {
        SCOPED_TRACE("life " + std::to_string(life));
        Py_XDECREF(initialise_module());
        PyErr_Clear();  // pygame's import error, where the embedded interpreter has none
        ASSERT_NE(link_object, nullptr);
        EXPECT_STREQ(Py_TYPE(link_object)->tp_name, "swigvarlink");
        PyObject *mark = PyDict_GetItem(interpreter_dict, key);  // borrowed
        EXPECT_TRUE(mark && PyCapsule_IsValid(mark, "Quorvelc.interpreter_objects"));
        ASSERT_EQ(PyDict_DelItem(interpreter_dict, key), 0);
        EXPECT_EQ(link_object, nullptr);
    }
    Py_XDECREF(initialise_module());  // the rest of the run has its link object again
    PyErr_Clear();
    EXPECT_NE(link_object, nullptr);
    Py_DECREF(key);
}

}  // namespace
