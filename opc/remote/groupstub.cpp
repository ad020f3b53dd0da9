// The host's stubs of groups and of their item enumerator (placeholders
// until the group side arrives).
#include <kj/debug.h>

#include "opc/remote/objectref_p.h"

namespace opc::remote {

wire::Unknown::Client makeGroupStub(const std::shared_ptr<HostConnection>&, ComPtr<IUnknown>) {
  return wire::Unknown::Client(KJ_EXCEPTION(UNIMPLEMENTED, "groups are not served yet"));
}

wire::Unknown::Client makeEnumItemAttributesStub(const std::shared_ptr<HostConnection>&,
                                                 ComPtr<IUnknown>) {
  return wire::Unknown::Client(KJ_EXCEPTION(UNIMPLEMENTED, "item enumerators are not served yet"));
}

}  // namespace opc::remote
