#include "tqopcitemupdater_p.h"

TqOPCItemUpdater::CarriedResults::CarriedResults(const TqOPCItemList& list) {
  if (!list.carriesResults_) return;
  shown_ = list;
  previous_.resize(std::size_t(shown_.Count()));
  for (int i = 0; i < shown_.Count(); ++i) {
    TqOPCItem* item = shown_.Items(i);
    if (!item) continue;
    previous_[std::size_t(i)] = item->lastError_;
    item->lastError_ = shown_.entries_[std::size_t(i)].result;
  }
}

TqOPCItemUpdater::CarriedResults::~CarriedResults() {
  // The handler may have destroyed items meanwhile: they read as null here.
  // Backwards, so an item listed twice ends with what it had before.
  for (int i = shown_.Count() - 1; i >= 0; --i) {
    TqOPCItem* item = shown_.Items(i);
    if (item && item->lastError_ == shown_.entries_[std::size_t(i)].result)
      item->lastError_ = previous_[std::size_t(i)];
  }
}
