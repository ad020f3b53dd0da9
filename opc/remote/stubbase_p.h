// What every host-side stub shares: the connection it serves (for the
// objects it hands out in turn) and the note the host logs when the client
// lets a top-level object go.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "opc/remote/hostconnection_p.h"
#include "opc/remote/marshal_p.h"
#include "opc/remote/objectref_p.h"

namespace opc::remote {

class StubBase {
 public:
  StubBase(const StubBase&) = delete;
  StubBase& operator=(const StubBase&) = delete;

 protected:
  StubBase(std::shared_ptr<HostConnection> connection, std::function<void()> onRelease)
      : connection_(std::move(connection)), onRelease_(std::move(onRelease)) {}
  ~StubBase() {
    if (onRelease_) onRelease_();
  }

  const std::shared_ptr<HostConnection>& connection() const { return connection_; }

  /// Answers hr; when the call succeeded and made an object, the reference
  /// `refOf(results)` is filled with it as an object of `kind`.
  template <class Context, class T, class RefOf>
  kj::Promise<void> answerObject(Context& context, HRESULT hr, const ComPtr<T>& object,
                                 wire::Kind kind, RefOf refOf) {
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr) && object)
      refFromObject(connection_, ComPtr<IUnknown>(object), kind, refOf(r));
    return kj::READY_NOW;
  }

  /// Answers hr; when the call succeeded and gave a text, `set(results,
  /// text)` puts it.
  template <class Context, class Set>
  static kj::Promise<void> answerText(Context& context, HRESULT hr, const TaskString& text,
                                      Set set) {
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr) && text) set(r, wideData(text.get()));
    return kj::READY_NOW;
  }

 private:
  std::shared_ptr<HostConnection> connection_;
  std::function<void()> onRelease_;
};

/// Answers hr and nothing more, or hr after the results were filled (the
/// results are the same however often a context is asked for them).
template <class Context>
kj::Promise<void> answer(Context& context, HRESULT hr) {
  context.getResults().setHr(hr);
  return kj::READY_NOW;
}

}  // namespace opc::remote
