// Logging category of the client library. Quiet by default: enable with
// QT_LOGGING_RULES="veze6.core.debug=true".
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcOpc)
