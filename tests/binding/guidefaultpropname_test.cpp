#include "binding/guidefaultpropname.h"

#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <memory>

#include "common/leakcheck.h"
#include "common/widgetmain.h"
#include "testwidgets.h"

namespace {

class DefaultPropNames : public veze6::test::LeakCheckedTest {
 protected:
  void SetUp() override { store()->clear(); }
  void TearDown() override { store()->clear(); }

  static std::unique_ptr<QSettings> store() {
    return std::make_unique<QSettings>(QStringLiteral("Vorlax"), QStringLiteral("QOPC"));
  }
  static QString read(const QObject* control) {
    QString name = QStringLiteral("previous");
    ReadDefaultPropName(control, name);
    return name;
  }
};

TEST_F(DefaultPropNames, StoreLivesInTheTestsOwnFolder) {
  EXPECT_TRUE(store()->fileName().startsWith(gSettingsDir)) << store()->fileName().toStdString();
}

TEST_F(DefaultPropNames, WithoutMemoryTheTableDefaultIsOffered) {
  QLineEdit edit;
  QFrame panel;
  QObject plain;
  EXPECT_EQ(read(&edit), "text");
  EXPECT_EQ(read(&panel), "");
  EXPECT_EQ(read(&plain), "");
  EXPECT_EQ(read(nullptr), "");
}

TEST_F(DefaultPropNames, RememberedNameIsOfferedPerClassUntilForgotten) {
  QLineEdit edit;
  WriteDefaultPropName(&edit, QStringLiteral("placeholderText"));
  EXPECT_EQ(store()->value(QStringLiteral("QLineEdit")),
            QVariant(QStringLiteral("placeholderText")));

  QLineEdit another;
  QLabel label;
  TTestEdit derived;  // a class of its own: not covered by the edit's memory
  EXPECT_EQ(read(&another), "placeholderText");
  EXPECT_EQ(read(&label), "text");
  EXPECT_EQ(read(&derived), "text");

  WriteDefaultPropName(&edit, QString());
  EXPECT_FALSE(store()->contains(QStringLiteral("QLineEdit")));
  EXPECT_EQ(read(&another), "text");
}

TEST_F(DefaultPropNames, ScopedClassNamesAndControlsOutsideTheTable) {
  testns::TScopedEdit scoped;
  QFrame panel;
  WriteDefaultPropName(&scoped, QStringLiteral("Text"));
  WriteDefaultPropName(&panel, QStringLiteral("frameShape"));
  EXPECT_EQ(read(&scoped), "Text");
  EXPECT_EQ(read(&panel), "frameShape");
  QLineEdit edit;
  EXPECT_EQ(read(&edit), "text");
}

TEST_F(DefaultPropNames, NullControlWritesNothing) {
  WriteDefaultPropName(nullptr, QStringLiteral("text"));
  EXPECT_TRUE(store()->allKeys().isEmpty());
}

TEST_F(DefaultPropNames, ValueThatIsNoTextRaises) {
  store()->setValue(QStringLiteral("QLabel"), QStringList{"a", "b"});
  QLabel label;
  QString name = QStringLiteral("previous");
  EXPECT_THROW(ReadDefaultPropName(&label, name), ERegistryException);
  EXPECT_EQ(name, "previous");
}

}  // namespace
