#include "tqopcitemlist.h"

#include "application.h"
#include "exceptions.h"
#include "format.h"
#include "qOPCErrors.h"
#include "qopcstrings.h"
#include "tqopcitems.h"

TqOPCItemList::TqOPCItemList(const TqOPCItems* items) {
  items_.reserve(items->Count());
  for (int i = 0; i < items->Count(); ++i) items_.append(items->Items(i));
}

TqOPCItemList::TqOPCItemList(TqOPCItem* item) { items_.append(item); }

TqOPCItem* TqOPCItemList::Items(int index) const {
  if (index < 0 || index >= Count())
    throw EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
  return items_.at(index).data();
}

void TqOPCItemList::Add(TqOPCItem* item) { items_.append(item); }

namespace {

constexpr int kListedFailures = 26;

// The report's text, or empty when no item failed. Item is a pointer or a
// QPointer.
template <class Range>
QString errorReport(const Range& items, const QString& title) {
  QString text;
  int failed = 0;
  for (const auto& item : items) {
    if (!item || item->LastError() == S_OK) continue;
    if (failed == 0) text = title + QStringLiteral("\r\n");
    if (failed < kListedFailures) {
      QString error = GetOPCErrorMessage(item->LastError());
      if (error.isEmpty()) error = Format(_STR_UNKNOWN(), {item->LastError()});
      text += item->ItemID() + QStringLiteral("- ") + error + QStringLiteral("\r\n");
    }
    ++failed;
  }
  return text;
}

void raiseOrShow(const QString& text, bool raiseError) {
  if (text.isEmpty()) return;
  if (raiseError) throw EOPCException(text);
  ShowMessage(text);
}

template <class Range>
void checkAllOnServer(const Range& items) {
  for (const auto& item : items)
    if (item && item->ServerHandle() == TqOPCItem::kNoServerHandle)
      throw EOPCException(Format(_STR_NOSERVERHANDLE(), {item->ItemID()}));
}

}  // namespace

void TqOPCItemList::CheckOPCErrors(const QString& title, bool raiseError) const {
  raiseOrShow(errorReport(items_, title), raiseError);
}

void TqOPCItemList::CheckOPCErrors(std::span<TqOPCItem* const> items, const QString& title,
                                   bool raiseError) {
  raiseOrShow(errorReport(items, title), raiseError);
}

void TqOPCItemList::CheckAllActiveOnServer() const { checkAllOnServer(items_); }

void TqOPCItemList::CheckAllActiveOnServer(std::span<TqOPCItem* const> items) {
  checkAllOnServer(items);
}
