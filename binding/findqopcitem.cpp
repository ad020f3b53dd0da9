#include "findqopcitem.h"

#include "core/tqopcgroup.h"
#include "core/tqopcgroups.h"
#include "core/tqopcitems.h"
#include "core/tqopcserver.h"

TqOPCItem* FindqOPCItem(const TqOPCServer* server, const QString& groupName,
                        const QString& itemName) {
  if (!server) return nullptr;
  const TqOPCGroup* group = server->OPCGroups()->GetOPCGroup(groupName);
  return group ? group->OPCItems()->FindOPCItem(itemName) : nullptr;
}
