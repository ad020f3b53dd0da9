#include "datastream_entry.h"

#include <vector>

#include "core/datastreamreader.h"
#include "core/qopcconversions.h"
#include "opc/datastream.h"
#include "opc/diag.h"
#include "opc/variant.h"

namespace veze6fuzz {

namespace {

// A decoded value written back as a stream value and decoded again must
// write the same bytes: the writer and the reader agree on every value the
// reader accepts.
QString checkRewrite(const VARIANT& value) {
  std::vector<char> first(opc::stream::valueSize(value));
  if (opc::stream::writeValue(first.data(), value) != first.size())
    return QStringLiteral("a value wrote other than its size");
  opc::stream::Decoder decoder(first.data(), first.size());
  VARIANT raw;
  VariantInit(&raw);
  std::uint64_t end = 0;
  if (!decoder.value(0, raw, &end)) return QStringLiteral("a written value did not decode");
  const OleVariant again = OleVariant::attach(raw);
  if (end != first.size()) return QStringLiteral("a written value decoded to another length");
  std::vector<char> second(opc::stream::valueSize(again.get()));
  opc::stream::writeValue(second.data(), again.get());
  if (first != second)
    return QStringLiteral("value of type %1 changed on writing back").arg(value.vt);
  return {};
}

}  // namespace

QString RunDataStream(const std::uint8_t* data, std::size_t size) {
  const opc::diag::Counters before = opc::diag::snapshot();
  {
    // A copy of exactly the input's size: the sanitizers see any overrun.
    const std::vector<char> block(data, data + size);
    TDataStreamReader reader;
    for (const bool withTime : {true, false}) {
      const auto result = reader.Read(block.data(), block.size(), withTime);
      if (result != TDataStreamReader::Result::Ok) {
        if (!reader.Entries().empty()) return QStringLiteral("a refused block left entries");
        continue;
      }
      for (const auto& entry : reader.Entries()) {
        if (!entry.decoded) {
          if (entry.value.vt != VT_EMPTY) return QStringLiteral("an undecoded value is not empty");
          continue;
        }
        OleVariant copy;
        if (FAILED(VariantCopy(copy.ptr(), &entry.value)))
          return QStringLiteral("a decoded value of type %1 does not copy").arg(entry.value.vt);
        VarToAStr(copy);
        VariantToQVariant(copy);
        const QString failure = checkRewrite(entry.value);
        if (!failure.isEmpty()) return failure;
      }
    }
  }
  const opc::diag::Counters after = opc::diag::snapshot();
  if (after != before)
    return QStringLiteral("leak: %1 task blocks, %2 strings, %3 globals, %4 arrays")
        .arg(after.taskAllocations - before.taskAllocations)
        .arg(after.bstrs - before.bstrs)
        .arg(after.globals - before.globals)
        .arg(after.safeArrays - before.safeArrays);
  return {};
}

}  // namespace veze6fuzz
