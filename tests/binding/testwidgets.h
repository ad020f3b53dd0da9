// Widgets with properties of every type the generic write knows, and small
// class hierarchies for the registry's lookup order.
#pragma once

#include <QFont>
#include <QLineEdit>
#include <QString>
#include <QVariant>
#include <QWidget>

class TKindWidget : public QWidget {
  Q_OBJECT
  Q_PROPERTY(qint8 int8Prop MEMBER int8Prop)
  Q_PROPERTY(quint8 uint8Prop MEMBER uint8Prop)
  Q_PROPERTY(qint16 int16Prop MEMBER int16Prop)
  Q_PROPERTY(quint16 uint16Prop MEMBER uint16Prop)
  Q_PROPERTY(int intProp MEMBER intProp)
  Q_PROPERTY(uint uintProp MEMBER uintProp)
  Q_PROPERTY(char charProp MEMBER charProp)
  Q_PROPERTY(QChar qcharProp MEMBER qcharProp)
  Q_PROPERTY(char16_t char16Prop MEMBER char16Prop)
  Q_PROPERTY(qint64 int64Prop MEMBER int64Prop)
  Q_PROPERTY(quint64 uint64Prop MEMBER uint64Prop)
  Q_PROPERTY(double doubleProp MEMBER doubleProp)
  Q_PROPERTY(float floatProp MEMBER floatProp)
  Q_PROPERTY(QString stringProp MEMBER stringProp)
  Q_PROPERTY(bool boolProp MEMBER boolProp)
  Q_PROPERTY(Mode modeProp MEMBER modeProp)
  Q_PROPERTY(Size sizeProp MEMBER sizeProp)
  Q_PROPERTY(Options optionsProp READ options WRITE setOptions)
  Q_PROPERTY(QVariant variantProp MEMBER variantProp)
  Q_PROPERTY(QFont fontProp MEMBER fontProp)
  Q_PROPERTY(QObject* objectProp MEMBER objectProp)
  Q_PROPERTY(int readOnlyProp READ readOnly)

 public:
  enum Mode { Off, Low, High };
  Q_ENUM(Mode)
  /// Values with gaps and a one-byte representation.
  enum class Size : quint8 { Tiny = 2, Medium = 50, Huge = 200 };
  Q_ENUM(Size)
  enum Option { OptA = 1, OptB = 2, OptC = 4 };
  Q_DECLARE_FLAGS(Options, Option)
  Q_FLAG(Options)

  int readOnly() const { return 7; }
  // moc needs accessors for a flags property.
  Options options() const { return optionsProp; }
  void setOptions(Options o) { optionsProp = o; }

  qint8 int8Prop = 0;
  quint8 uint8Prop = 0;
  qint16 int16Prop = 0;
  quint16 uint16Prop = 0;
  int intProp = 0;
  uint uintProp = 0;
  char charProp = 0;
  QChar qcharProp;
  char16_t char16Prop = 0;
  qint64 int64Prop = 0;
  quint64 uint64Prop = 0;
  double doubleProp = 0;
  float floatProp = 0;
  QString stringProp;
  bool boolProp = false;
  Mode modeProp = Off;
  Size sizeProp = Size::Medium;
  Options optionsProp;
  QVariant variantProp;
  QFont fontProp;
  QObject* objectProp = nullptr;
};
Q_DECLARE_OPERATORS_FOR_FLAGS(TKindWidget::Options)

/// An edit control of the application's own.
class TTestEdit : public QLineEdit {
  Q_OBJECT
};
class TTestEditChild : public TTestEdit {
  Q_OBJECT
};

/// Two hierarchies unknown to the built-in table: one registered derived
/// class first, one base class first.
class TDerivedFirstBase : public QWidget {
  Q_OBJECT
};
class TDerivedFirst : public TDerivedFirstBase {
  Q_OBJECT
};
class TBaseFirstBase : public QWidget {
  Q_OBJECT
};
class TBaseFirst : public TBaseFirstBase {
  Q_OBJECT
};

namespace testns {
/// A class name with a scope, as a settings value name.
class TScopedEdit : public QLineEdit {
  Q_OBJECT
};
}  // namespace testns
