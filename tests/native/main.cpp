// Entry of the native tests: one embedded interpreter for the whole run, so
// that the runtime's process-wide state (type list, cached names) lives as
// long as it does in the host.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <gtest/gtest.h>

namespace {

class python_environment : public ::testing::Environment {
public:
    void SetUp() override { Py_Initialize(); }

    void TearDown() override {
        if (Py_FinalizeEx() < 0)
            ADD_FAILURE() << "the embedded interpreter did not finalise cleanly";
    }
};

}  // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // GoogleTest owns and deletes the environment.
    ::testing::AddGlobalTestEnvironment(new python_environment);
    return RUN_ALL_TESTS();
}
