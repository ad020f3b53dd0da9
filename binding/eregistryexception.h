// The failure of the per-user settings store.
#pragma once

#include "core/exceptions.h"

/// The settings store could not be read or written, or holds a value of the
/// wrong kind.
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "ERegistryException"; }
};
