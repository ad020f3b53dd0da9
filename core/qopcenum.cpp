#include <algorithm>
#include <array>

#include "opc/taskmem.h"
#include "qopcconversions.h"
#include "qopcenum_p.h"
#include "qopclogging.h"

namespace veze6::core::detail {

void appendEnumStrings(IEnumString* enumerator, QStringList& list) {
  if (!enumerator) return;
  // Large enough to make the per-call cost vanish, small enough for the stack.
  constexpr ULONG kBatch = 256;
  std::array<LPOLESTR, kBatch> strings{};
  ULONG asked = kBatch;
  bool firstCall = true;
  qsizetype nulls = 0;
  const auto done = [&] {
    if (nulls) qCWarning(lcOpc) << "enumerator delivered" << nulls << "null strings";
  };
  // A server whose list never ends (S_OK and full batches forever) would hold
  // the caller and its memory for good; no address space lists this many.
  for (std::size_t claimed = 0;; claimed += asked) {
    if (claimed >= kMaxEnumStrings) {
      qCWarning(lcOpc) << "enumerator still delivering after" << claimed
                       << "strings; reading stops";
      return done();
    }
    std::fill_n(strings.begin(), asked, nullptr);
    ULONG fetched = 0;
    const HRESULT hr = enumerator->Next(asked, strings.data(), &fetched);
    const ULONG count = std::min(fetched, asked);
    if (fetched > asked) qCWarning(lcOpc) << "enumerator reported" << fetched << "of" << asked;
    for (ULONG i = 0; i < asked; ++i) {
      // Whatever the server wrote into the array is its memory, handed to us.
      opc::TaskString string;
      *string.put() = strings[i];
      if (SUCCEEDED(hr) && i < count) {
        if (string)
          list.append(WideToText(string.get()));
        else
          ++nulls;
      }
    }
    if (FAILED(hr)) {
      // A server that cannot deliver batches still answers one at a time.
      if (firstCall && asked > 1) {
        asked = 1;
        firstCall = false;
        continue;
      }
      return done();
    }
    firstCall = false;
    // S_FALSE ends the list; S_OK without a string would never end.
    if (hr != S_OK || count == 0) return done();
  }
}

}  // namespace veze6::core::detail
