#include "diag.h"

#include <atomic>

namespace opc::diag {

namespace {
// Relaxed order suffices: the counters are read only by tests, after the
// threads that changed them have been joined or synchronised otherwise.
std::atomic<std::int64_t> g_task{0};
std::atomic<std::int64_t> g_bstr{0};
std::atomic<std::int64_t> g_objects{0};
std::atomic<std::int64_t> g_globals{0};
std::atomic<std::int64_t> g_safeArrays{0};

void add(std::atomic<std::int64_t>& c, std::int64_t d) {
  c.fetch_add(d, std::memory_order_relaxed);
}
}  // namespace

Counters snapshot() {
  return Counters{g_task.load(), g_bstr.load(), g_objects.load(), g_globals.load(),
                  g_safeArrays.load()};
}

void objectCreated() { add(g_objects, 1); }
void objectDestroyed() { add(g_objects, -1); }
void taskAllocated() { add(g_task, 1); }
void taskFreed() { add(g_task, -1); }
void bstrAllocated() { add(g_bstr, 1); }
void bstrFreed() { add(g_bstr, -1); }
void globalAllocated() { add(g_globals, 1); }
void globalFreed() { add(g_globals, -1); }
void safeArrayCreated() { add(g_safeArrays, 1); }
void safeArrayDestroyed() { add(g_safeArrays, -1); }

}  // namespace opc::diag
