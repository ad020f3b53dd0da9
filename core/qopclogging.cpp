#include "qopclogging.h"

Q_LOGGING_CATEGORY(lcOpc, "veze6.core", QtWarningMsg)
