// The translations of the texts people read in the dialogs, the Inspector
// and the tools. The English texts in the code are the source; a translation
// replaces them when it is loaded into the application.
#pragma once

#include <QLocale>

namespace veze6 {

/// Loads the library's translation for the locale's languages into the
/// application, with Qt's own (qtbase) translation for the same language when
/// one is installed, and drops what an earlier call loaded. The library's
/// translations are looked up beside the program (../share/veze6/translations
/// from its folder, so that a moved install still finds them), in the folder
/// the library was installed with, and in the build tree. A locale whose
/// preferred language is English keeps the source texts. Call it on the
/// application's thread once the application object exists; returns true
/// when the library's translation was loaded.
bool installTranslations(const QLocale& locale = QLocale());

/// Unloads what installTranslations loaded: the English source texts again.
void removeTranslations();

}  // namespace veze6
