#include "guidefaultpropname.h"

#include <QMetaObject>
#include <QObject>
#include <QSettings>
#include <QWidget>

#include "tguiregcontrol.h"

namespace {

// User scope of this application only: an organisation-wide or system file
// must not change what a user's designer offers.
void userScopeOnly(QSettings& settings) { settings.setFallbacksEnabled(false); }

QString valueName(const QObject* control) {
  return QLatin1String(control->metaObject()->className());
}

}  // namespace

void ReadDefaultPropName(const QObject* Control, QString& PropName) {
  QString text;
  if (Control) {
    QSettings settings(QStringLiteral("Vorlax"), QStringLiteral("QOPC"));
    userScopeOnly(settings);
    const QString name = valueName(Control);
    const QVariant value = settings.value(name);
    if (value.isValid()) {
      const int type = value.metaType().id();
      if (type != QMetaType::QString && type != QMetaType::QByteArray) {
        throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(name));
      }
      text = value.toString();
    }
    if (text.isEmpty()) GetDefaultPropName(qobject_cast<const QWidget*>(Control), text);
  }
  PropName = text;
}

void WriteDefaultPropName(const QObject* Control, const QString& PropName) {
  if (!Control) return;
  QSettings settings(QStringLiteral("Vorlax"), QStringLiteral("QOPC"));
  userScopeOnly(settings);
  const QString name = valueName(Control);
  if (!PropName.isEmpty()) {
    settings.setValue(name, PropName);
  } else {
    settings.remove(name);
  }
  settings.sync();
  if (settings.status() != QSettings::NoError) {
    throw ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
  }
}
