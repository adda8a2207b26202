// The one symbol the extension exports.
#include "module/module.h"

PyMODINIT_FUNC PyInit_Quorvelc(void) {
    return initialise_module();
}
