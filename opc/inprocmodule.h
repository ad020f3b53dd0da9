// In-process server modules: shared libraries named by registration files
// (registrationfiles.h). The platform layer loads a module with dlopen the
// first time one of its classes is created and keeps it loaded for the rest
// of the process.
//
// A module links the shared platform library (veze6opc), so it shares the
// host's class registry, counters, clipboard formats and apartments, and
// exports one entry point with C linkage:
//
//   extern "C" VEZE6_MODULE_EXPORT HRESULT Veze6GetClassObject(REFCLSID rclsid, REFIID riid,
//                                                              void** ppv);
//
// which hands out the class factory (IClassFactory) of a class it serves, or
// answers CLASS_E_CLASSNOTAVAILABLE.
#pragma once

#include <functional>
#include <string>

#include "objidl.h"
#include "opcexport.h"

#define VEZE6_MODULE_EXPORT __attribute__((visibility("default")))

/// The entry point's name and type.
inline constexpr const char* kModuleEntryPointName = "Veze6GetClassObject";
using ModuleEntryPoint = HRESULT (*)(REFCLSID rclsid, REFIID riid, void** ppv);

namespace opc {

/// A class factory whose CreateInstance makes an object with `create`
/// (which queries it for the asked interface); aggregation is refused.
VEZE6_OPC_EXPORT ComPtr<IClassFactory> makeClassFactory(
    std::function<HRESULT(REFIID riid, void** ppv)> create);

/// Creates an object of `clsid` from the module at `path` (absolute), loading
/// the module first if needed: CO_E_DLLNOTFOUND when no file is there,
/// CO_E_ERRORINDLL when the file does not load, lacks the entry point or
/// hands out no factory; the module's own failures (from the entry point or
/// the factory) as it returns them. Failures are also reported as warnings.
VEZE6_OPC_EXPORT HRESULT createFromModule(const std::string& path, REFCLSID clsid, REFIID riid,
                                          void** ppv);

/// Whether the module at `path` has been loaded into the process.
VEZE6_OPC_EXPORT bool isModuleLoaded(const std::string& path);

}  // namespace opc
