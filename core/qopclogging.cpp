#include "qopclogging.h"

#include "opc/registrationfiles.h"

Q_LOGGING_CATEGORY(lcPlatform, "veze6.opc", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSim, "veze6.sim", QtWarningMsg)
Q_LOGGING_CATEGORY(lcOpc, "veze6.core", QtWarningMsg)
Q_LOGGING_CATEGORY(lcBinding, "veze6.binding", QtWarningMsg)
Q_LOGGING_CATEGORY(lcDesign, "veze6.design", QtWarningMsg)

void RouteOpcWarningsToLog() {
  opc::setWarningHandler(
      [](const std::string& message) { qCWarning(lcPlatform, "%s", message.c_str()); });
}

namespace {
// A program linking the library gets the platform layer's warnings as log
// messages from the start, filtered and formatted like the rest of them.
[[maybe_unused]] const bool routed = (RouteOpcWarningsToLog(), true);
}  // namespace
