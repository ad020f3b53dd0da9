// What the runner of the widget suites sets up for them.
#pragma once

#include <QString>

/// The temporary folder that holds the tests' settings.
extern QString gSettingsDir;
