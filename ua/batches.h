// Splitting a list of operations into requests that respect a server's
// operation limit.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "statuscode.h"

namespace veze6::ua {

/// Calls `send(first, count)` for consecutive slices of at most `limit`
/// items (0: one slice); stops at the first Bad result and returns it.
/// An empty list is BadNothingToDo, as the services answer it.
template <class Send>
StatusCode forEachBatch(std::size_t size, std::uint32_t limit, Send&& send) {
  if (size == 0) return status::BadNothingToDo;
  const std::size_t step = limit ? limit : size;
  for (std::size_t first = 0; first < size; first += step) {
    if (StatusCode s = send(first, std::min(step, size - first)); isBad(s)) return s;
  }
  return status::Good;
}

template <class T>
std::vector<T> slice(const std::vector<T>& v, std::size_t first, std::size_t count) {
  return std::vector<T>(v.begin() + std::ptrdiff_t(first),
                        v.begin() + std::ptrdiff_t(first + count));
}

}  // namespace veze6::ua
