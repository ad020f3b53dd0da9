#include "tqopcitemlist.h"

#include "application.h"
#include "exceptions.h"
#include "format.h"
#include "qOPCErrors.h"
#include "qopcstrings.h"
#include "tqopcitems.h"

TqOPCItemList::TqOPCItemList(const TqOPCItems* items) {
  for (int i = 0; i < items->Count(); ++i) items_.append(items->Items(i));
}

TqOPCItemList::TqOPCItemList(TqOPCItem* item) { items_.append(item); }

TqOPCItem* TqOPCItemList::Items(int index) const {
  if (index < 0 || index >= Count())
    throw EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
  return items_.at(index).data();
}

void TqOPCItemList::Add(TqOPCItem* item) { items_.append(item); }

void TqOPCItemList::CheckOPCErrors(const QString& title, bool raiseError) const {
  constexpr int kListed = 26;
  QString text = title + QStringLiteral("\r\n");
  int failed = 0;
  for (const QPointer<TqOPCItem>& item : items_) {
    if (!item || item->LastError() == S_OK) continue;
    if (failed < kListed) {
      QString error = GetOPCErrorMessage(item->LastError());
      if (error.isEmpty()) error = Format(_STR_UNKNOWN(), {item->LastError()});
      text += item->ItemID() + QStringLiteral("- ") + error + QStringLiteral("\r\n");
    }
    ++failed;
  }
  if (failed == 0) return;
  if (raiseError) throw EOPCException(text);
  ShowMessage(text);
}

void TqOPCItemList::CheckAllActiveOnServer() const {
  for (const QPointer<TqOPCItem>& item : items_)
    if (item && item->ServerHandle() == TqOPCItem::kNoServerHandle)
      throw EOPCException(Format(_STR_NOSERVERHANDLE(), {item->ItemID()}));
}
