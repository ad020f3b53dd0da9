// The part of every hostile call that the script decides before and after
// the real work.
#pragma once

#include "hostilescript.h"
#include "opc/taskmem.h"

namespace hostile {

/// Runs the call's act around `work` (the simulation server's own call).
/// `shutdown` and `reenter` make the act's call into the client (`reenter`
/// also from another thread, so it must own what it uses). The caller has set
/// its out-parameters to null first.
template <class Work, class Shutdown, class Reenter>
HRESULT perform(SimCall call, Work&& work, Shutdown&& shutdown, Reenter&& reenter) {
  Script& script = Script::instance();
  const Script::Step step = script.step(call);
  switch (step.act) {
    case Act::Fail:
      return step.code;
    case Act::NullOut:
      return S_OK;
    case Act::Block:
      // While the call waits, the server calls the client from its own thread.
      script.runForeign(reenter);
      script.passGate();
      break;
    case Act::Shutdown:
      shutdown();
      break;
    case Act::Reenter:
      reenter();
      break;
    default:
      break;
  }
  return work();
}

/// Act::MixedErrors: every other item of a successful call reports a failure
/// the server invented; the call then answers S_FALSE.
inline HRESULT mixErrors(SimCall call, HRESULT result, HRESULT* errors, DWORD count) {
  if (FAILED(result) || !errors || Script::instance().step(call).act != Act::MixedErrors)
    return result;
  for (DWORD i = 1; i < count; i += 2) errors[i] = i % 4 == 1 ? E_FAIL : OPC_E_INVALIDHANDLE;
  return count > 1 ? S_FALSE : result;
}

}  // namespace hostile
