// A shared library that is no server module: it lacks the entry point.
#include "opc/inprocmodule.h"

extern "C" VEZE6_MODULE_EXPORT int veze6NotAServerModule() { return 42; }
