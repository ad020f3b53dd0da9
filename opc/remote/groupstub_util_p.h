// Internal to the remote transport; not API.
//
// Small pieces the group's stubs share: number lists out of the request,
// and per-item errors into the answer (freeing the server's block).
#pragma once

#include <kj/async.h>

#include <vector>

#include "opc/remote/stubbase_p.h"
#include "opc/taskmem.h"

namespace opc::remote {

template <class T, class List>
std::vector<T> numbers(List list) {
  std::vector<T> out(list.size());
  for (unsigned i = 0; i < list.size(); ++i) out[i] = static_cast<T>(list[i]);
  return out;
}

template <class T>
T* dataOf(std::vector<T>& v) {
  return v.empty() ? nullptr : v.data();
}

template <class Results>
void putErrors(Results& results, const HRESULT* errors, std::size_t count) {
  auto list = results.initErrors(unsigned(count));
  for (unsigned i = 0; i < list.size(); ++i) list.set(i, errors[i]);
}

/// Answers hr with the server's per-item errors (when it succeeded and gave
/// them), and frees them.
template <class Context>
kj::Promise<void> answerErrors(Context& context, HRESULT hr, HRESULT* errors, std::size_t count) {
  if (SUCCEEDED(hr) && errors) {
    auto results = context.getResults();
    putErrors(results, errors, count);
  }
  CoTaskMemFree(errors);
  return answer(context, hr);
}

}  // namespace opc::remote
