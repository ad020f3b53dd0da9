// Logging categories, one per layer. Quiet below warnings by default:
// enable more with e.g. QT_LOGGING_RULES="veze6.*.debug=true".
//
//   veze6.opc      the platform layer: registration files and server modules
//                  skipped or failing to load (its warning hook, routed here)
//   veze6.sim      the simulation server
//   veze6.core     server component, groups, items, sinks (lcOpc)
//   veze6.binding  binding component and control setters
//   veze6.design   Inspector, control selection form, Designer plugin
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
Q_DECLARE_LOGGING_CATEGORY(lcSim)
Q_DECLARE_LOGGING_CATEGORY(lcOpc)
Q_DECLARE_LOGGING_CATEGORY(lcBinding)
Q_DECLARE_LOGGING_CATEGORY(lcDesign)

/// Hands the platform layer's warnings (opc::setWarningHandler) to the
/// category veze6.opc. Done when the library is loaded; call it again to
/// take the route back after installing a handler of one's own.
void RouteOpcWarningsToLog();
