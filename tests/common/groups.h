// Putting a group of items on a connected server component in one batch, as
// the tests that drive data paths do.
#pragma once

#include <QString>
#include <QStringList>
#include <QThread>
#include <vector>

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

/// What a server component's data handlers reported, in order: the item ids
/// of each data change and the thread it came on, the size of each write
/// completion and the item ids of each write error report.
struct DataEventLog {
  std::vector<QStringList> changes;
  std::vector<QThread*> threads;
  std::vector<int> completions;
  std::vector<QStringList> writeErrors;

  void attach(TqOPCServer& server) {
    const auto ids = [](TqOPCItemList* list) {
      QStringList out;
      for (int i = 0; i < list->Count(); ++i) out << list->Items(i)->ItemID();
      return out;
    };
    server.OnDatachange = [this, ids](QObject*, TqOPCItemList* list) {
      threads.push_back(QThread::currentThread());
      changes.push_back(ids(list));
    };
    server.OnWriteComplete = [this](QObject*, TqOPCItemList* list) {
      completions.push_back(list->Count());
    };
    server.OnWriteError = [this, ids](QObject*, TqOPCItemList* list) {
      writeErrors.push_back(ids(list));
    };
  }

  std::size_t reports() const { return changes.size() + completions.size() + writeErrors.size(); }
};

}  // namespace veze6::test
