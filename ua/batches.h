// Splitting a list of operations into requests that respect a server's
// operation limit.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
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

/// Appends one response's results; a response whose count differs from the
/// slice it answers is BadUnknownResponse (results would pair with the
/// wrong operations).
template <class R>
StatusCode appendResults(std::vector<R>& out, std::vector<R>& in, std::size_t expected) {
  if (in.size() != expected) return status::BadUnknownResponse;
  out.insert(out.end(), std::make_move_iterator(in.begin()), std::make_move_iterator(in.end()));
  return status::Good;
}

template <class T>
std::vector<T> slice(const std::vector<T>& v, std::size_t first, std::size_t count) {
  return std::vector<T>(v.begin() + std::ptrdiff_t(first),
                        v.begin() + std::ptrdiff_t(first + count));
}

}  // namespace veze6::ua
