"""Makes the interpreter on whose path this folder is report itself as a
free-threaded build (Py_GIL_DISABLED), for the configure-only test of
CMakeLists.txt: none such is installed here."""

import sysconfig

_config_var = sysconfig.get_config_var
sysconfig.get_config_var = lambda name: 1 if name == "Py_GIL_DISABLED" else _config_var(name)
