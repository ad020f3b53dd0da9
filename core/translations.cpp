#include "translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

namespace veze6 {

namespace {

// What installTranslations put into the application. Touched on the
// application's thread only.
struct Installed {
  std::unique_ptr<QTranslator> library;
  std::unique_ptr<QTranslator> qt;
};

Installed& installed() {
  static Installed translators;
  return translators;
}

// The folders searched for the library's .qm files, most specific first.
QStringList libraryFolders() {
  QStringList folders;
  if (QCoreApplication::instance())
    folders << QDir(QCoreApplication::applicationDirPath())
                   .absoluteFilePath(QStringLiteral(VEZE6_TRANSLATIONS_FROM_BIN));
  folders << QStringLiteral(VEZE6_TRANSLATIONS_INSTALLED)
          << QStringLiteral(VEZE6_TRANSLATIONS_BUILT);
  return folders;
}

// The file name suffixes to try for the locale: "de_DE", then "de", for each
// of the user's languages in order. Empty when English, the language the
// texts are written in, comes before any other: a translation of a later
// language must not replace the texts the user prefers.
QStringList languageSuffixes(const QLocale& locale) {
  QStringList suffixes;
  for (QString language : locale.uiLanguages()) {
    language.replace(QLatin1Char('-'), QLatin1Char('_'));
    if (language == QLatin1String("C") ||
        language.section(QLatin1Char('_'), 0, 0) == QLatin1String("en"))
      break;
    for (QString name = language; !name.isEmpty(); name = name.section(QLatin1Char('_'), 0, -2))
      if (!suffixes.contains(name)) suffixes << name;
  }
  return suffixes;
}

// The first of base_<suffix>.qm found, trying each suffix in each folder in
// turn; none when no file loads.
std::unique_ptr<QTranslator> load(const QString& base, const QStringList& suffixes,
                                  const QStringList& folders) {
  auto translator = std::make_unique<QTranslator>();
  for (const QString& suffix : suffixes) {
    for (const QString& folder : folders) {
      const QString file =
          QDir(folder).absoluteFilePath(base + QLatin1Char('_') + suffix + QStringLiteral(".qm"));
      if (QFile::exists(file) && translator->load(file)) return translator;
    }
  }
  return nullptr;
}

}  // namespace

bool installTranslations(const QLocale& locale) {
  removeTranslations();
  if (!QCoreApplication::instance()) return false;
  Installed& now = installed();
  const QStringList suffixes = languageSuffixes(locale);
  const QStringList folders = libraryFolders();
  // Qt's own texts (the buttons of message boxes, the help of the command
  // line): a copy shipped beside the library's wins over Qt's installed one.
  now.qt = load(QStringLiteral("qtbase"), suffixes,
                folders + QStringList{QLibraryInfo::path(QLibraryInfo::TranslationsPath)});
  if (now.qt) QCoreApplication::installTranslator(now.qt.get());
  now.library = load(QStringLiteral("veze6"), suffixes, folders);
  if (now.library) QCoreApplication::installTranslator(now.library.get());
  return bool(now.library);
}

void removeTranslations() {
  Installed& now = installed();
  for (std::unique_ptr<QTranslator>* translator : {&now.library, &now.qt}) {
    if (*translator && QCoreApplication::instance())
      QCoreApplication::removeTranslator(translator->get());
    translator->reset();
  }
}

}  // namespace veze6
