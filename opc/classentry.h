// One class of the class registry: its ids and texts, its categories and its
// factory.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "objidl.h"

namespace opc {

/// One registered class.
struct ClassEntry {
  CLSID clsid{};
  std::u16string progId;    ///< e.g. u"Veze6.Simulation.1"; may be empty
  std::u16string userType;  ///< descriptive text shown in server lists
  std::vector<CATID> categories;
  bool opcMarker = false;  ///< the class key carries the "OPC" marker
  /// Makes a new instance and queries it for riid (what a class factory does).
  std::function<HRESULT(REFIID riid, void** ppv)> create;
};

}  // namespace opc
