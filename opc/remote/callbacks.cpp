// The data callbacks across the connection (placeholders until the group
// side arrives).
#include <kj/debug.h>

#include "opc/remote/objectref_p.h"

namespace opc::remote {

wire::DataCallback::Client makeDataCallbackServer(ComPtr<IOPCDataCallback>,
                                                  std::shared_ptr<Apartment>) {
  return wire::DataCallback::Client(
      KJ_EXCEPTION(UNIMPLEMENTED, "data callbacks are not served yet"));
}

ComPtr<IOPCDataCallback> makeDataCallbackProxy(const std::shared_ptr<HostConnection>&,
                                               wire::DataCallback::Client) {
  return {};
}

}  // namespace opc::remote
