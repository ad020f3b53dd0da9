// Simulation servers for the benchmark programs: each program registers a
// class of its own whose instances hold only the items it measures.
#pragma once

#include <QString>
#include <functional>
#include <string>
#include <utility>

#include "core/qopcconversions.h"
#include "opc/classregistry.h"
#include "opc/filetime.h"
#include "opc/taskmem.h"
#include "simulator/simulator.h"

namespace bench {

/// "Bench.Item<i>".
inline std::u16string itemId(int i) { return u"Bench.Item" + opc::utf8ToUtf16(std::to_string(i)); }

/// Adds the items Bench.Item0 .. Bench.Item<n-1>: random Real8 values in an
/// engineering range of 0 to 100, each changing on every scan.
inline void addRandomItems(veze6::sim::AddressSpace& space, int n) {
  namespace sim = veze6::sim;
  const FILETIME now = opc::fileTimeNow();
  for (int i = 0; i < n; ++i) {
    sim::SimItem* item = space.addItem(itemId(i), VT_R8, OPC_READABLE, OleVariant(0.0), now);
    item->euRange = sim::EngineeringRange{0.0, 100.0};
    item->generator = sim::makeGenerator(sim::Signal::Random, *item);
  }
}

/// Registers clsid as a simulation server made with the options that
/// makeOptions returns at each creation; returns the CLSID as the text a
/// server component's ServerName takes.
inline QString registerServer(const CLSID& clsid, std::u16string userType,
                              std::function<veze6::sim::SimulationOptions()> makeOptions) {
  opc::ClassEntry entry;
  entry.clsid = clsid;
  entry.userType = std::move(userType);
  entry.create = [makeOptions = std::move(makeOptions)](REFIID riid, void** ppv) {
    ComPtr<IOPCServer> server = veze6::sim::createSimulationServer(makeOptions());
    return server->QueryInterface(riid, ppv);
  };
  opc::ClassRegistry::instance().registerClass(std::move(entry));
  opc::TaskString text;
  StringFromCLSID(clsid, text.put());
  return WideToText(text.get());
}

}  // namespace bench
