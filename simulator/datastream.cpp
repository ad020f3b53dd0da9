#include "datastream.h"

#include "opc/datastream.h"

namespace veze6::sim {

HGLOBAL buildDataStream(bool withTime, OPCHANDLE clientGroup, DWORD transactionId,
                        std::size_t count, const OPCHANDLE* clientHandles, const VARIANT* values,
                        const WORD* qualities, const FILETIME* timeStamps) {
  return opc::stream::buildDataStream(withTime, clientGroup, transactionId, count, clientHandles,
                                      values, qualities, timeStamps);
}

HGLOBAL buildWriteCompleteStream(OPCHANDLE clientGroup, DWORD transactionId, std::size_t count,
                                 const OPCHANDLE* clientHandles, const HRESULT* errors) {
  return opc::stream::buildWriteCompleteStream(clientGroup, transactionId, count, clientHandles,
                                               errors);
}

}  // namespace veze6::sim
