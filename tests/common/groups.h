// Putting a group of items on a connected server component in one batch, as
// the tests that drive data paths do.
#pragma once

#include <QString>
#include <QStringList>

#include "core/qOPC.h"

namespace veze6::test {

/// An active group named `name` at `rate` ms holding `ids`, added to the
/// server in one AddItems call.
inline TqOPCGroup* addGroupWithItems(TqOPCServer& server, const QString& name,
                                     const QStringList& ids, int rate = 100) {
  server.OPCGroupDefault()->UpdateRate = rate;
  TqOPCGroup* group = server.OPCGroups()->Add(name);
  server.SetBatchMode(true);
  for (const QString& id : ids) group->OPCItems()->AddItem(id);
  server.SetBatchMode(false);
  group->OPCItems()->OPCAddAllItems();
  return group;
}

}  // namespace veze6::test
