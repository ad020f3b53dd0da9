#include "tpersistent.h"

#include "exceptions.h"

TPersistent::TPersistent(QObject* parent) : QObject(parent) {}

TPersistent::~TPersistent() = default;

void TPersistent::Assign(const TPersistent* source) {
  if (source) {
    source->AssignTo(this);
    return;
  }
  throw EConvertError(QStringLiteral("Cannot assign a nil to a %1").arg(ClassName()));
}

void TPersistent::AssignTo(TPersistent* dest) const {
  throw EConvertError(QStringLiteral("Cannot assign a %1 to a %2")
                          .arg(ClassName(), dest ? dest->ClassName() : "nil"));
}

QString TPersistent::GetNamePath() const {
  const QString name = objectName();
  return name.isEmpty() ? ClassName() : name;
}

bool TPersistent::IsPropertyStored(const QMetaProperty& property) const {
  if (!property.isStored() || !property.isReadable()) return false;
  const QVariant value = property.read(this);
  switch (value.typeId()) {
    case QMetaType::QString:
      return !value.toString().isEmpty();
    case QMetaType::Float:
    case QMetaType::Double:
      return value.toDouble() != 0.0;
    default:
      return true;
  }
}
