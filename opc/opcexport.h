// What the platform library exports. veze6opc is built with hidden default
// visibility: only what its headers mark with VEZE6_OPC_EXPORT (functions,
// classes with members defined in the library, the interfaces whose type
// information crosses module boundaries) is its API; its helpers stay inside.
#pragma once

#define VEZE6_OPC_EXPORT __attribute__((visibility("default")))
