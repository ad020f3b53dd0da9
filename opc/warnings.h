// Warnings of the platform layer: registration entries and files skipped,
// server modules that fail to load. They go to one replaceable handler.
#pragma once

#include <functional>
#include <string>

#include "opcexport.h"

namespace opc {

using WarningHandler = std::function<void(const std::string& message)>;

/// Installs the handler and returns the one it replaces; an empty handler
/// restores the default, which writes each warning as a line to standard
/// error.
VEZE6_OPC_EXPORT WarningHandler setWarningHandler(WarningHandler handler);

/// Hands a warning to the installed handler.
VEZE6_OPC_EXPORT void warn(const std::string& message);

}  // namespace opc
