// The group edit dialog: the record shown and read back, the blank name, the
// conversions and their failures, cancelling, its texts in German.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

#include "common/dialogdriver.h"
#include "qOPC.h"
#include "qOPCGroupDlg.h"
#include "translations.h"

using namespace dialogs_test;

namespace {

struct GroupForm {
  explicit GroupForm(const QDialog& dialog)
      : eGroupName(control<QLineEdit>(dialog, "eGroupName")),
        eUpdateRate(control<QLineEdit>(dialog, "eUpdateRate")),
        eDeadBand(control<QLineEdit>(dialog, "eDeadBand")),
        cActive(control<QCheckBox>(dialog, "cActive")),
        bOk(control<QPushButton>(dialog, "bOk")),
        BCancel(control<QPushButton>(dialog, "BCancel")) {
    EXPECT_TRUE(eGroupName && eUpdateRate && eDeadBand && cActive && bOk && BCancel);
  }
  // Replaces an edit's text the way a user does.
  static void retype(QLineEdit* edit, const QString& text) {
    QTest::mouseClick(edit, Qt::LeftButton);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
  }

  QLineEdit* eGroupName;
  QLineEdit* eUpdateRate;
  QLineEdit* eDeadBand;
  QCheckBox* cActive;
  QPushButton* bOk;
  QPushButton* BCancel;
};

tGroupStateRec sampleState() {
  tGroupStateRec state;
  state.UpdateRate = 250;
  state.Active = true;
  state.Name = "Boiler";
  state.TimeBias = -60;
  state.PercentDeadband = 0.126f;
  state.LCID = 0x0407;
  state.hClientGroup = 3;
  state.hServerGroup = 77;
  return state;
}

void expectSame(const tGroupStateRec& a, const tGroupStateRec& b) {
  EXPECT_EQ(a.UpdateRate, b.UpdateRate);
  EXPECT_EQ(a.Active, b.Active);
  EXPECT_EQ(a.Name, b.Name);
  EXPECT_EQ(a.TimeBias, b.TimeBias);
  EXPECT_EQ(a.PercentDeadband, b.PercentDeadband);
  EXPECT_EQ(a.LCID, b.LCID);
  EXPECT_EQ(a.hClientGroup, b.hClientGroup);
  EXPECT_EQ(a.hServerGroup, b.hServerGroup);
}

// Sets the user's number format for a test.
class ScopedLocale {
 public:
  explicit ScopedLocale(const QLocale& locale) { QLocale::setDefault(locale); }
  ~ScopedLocale() { QLocale::setDefault(previous_); }

 private:
  QLocale previous_;
};

class GroupDialogTest : public veze6::test::LeakCheckedTest {
 protected:
  ScopedLocale english{QLocale(QLocale::English, QLocale::UnitedStates)};
  ScopedCaptureApplication app;
};

TEST_F(GroupDialogTest, Showing_TheRecordWithTwoDecimalsAndConfirmingReadsItBack) {
  tGroupStateRec state = sampleState();
  ModalDriver<TqOPCDlgEditGroup> driver([&](TqOPCDlgEditGroup& dialog) {
    GroupForm form(dialog);
    EXPECT_EQ(dialog.windowTitle(), "Edit Group");
    EXPECT_EQ(dialog.size(), QSize(322, 215));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "fixed size";
    EXPECT_TRUE(form.bOk->isDefault());

    EXPECT_EQ(form.eGroupName->text(), "Boiler");
    EXPECT_EQ(form.eUpdateRate->text(), "250");
    EXPECT_EQ(form.eDeadBand->text(), "0.13");
    EXPECT_TRUE(form.cActive->isChecked());
    saveShot(dialog, "group-edit-dialog");
    QTest::mouseClick(form.cActive, Qt::LeftButton);
    QTest::keyClick(form.eUpdateRate, Qt::Key_Return);  // Enter confirms
  });
  ASSERT_TRUE(OPCEditGroupDialog(state));
  EXPECT_TRUE(driver.ran());
  tGroupStateRec expected = sampleState();
  expected.PercentDeadband = 0.13f;  // what was shown is what comes back
  expected.Active = false;
  expectSame(state, expected);
}

TEST_F(GroupDialogTest, Name_BlankBeepsAndKeepsTheFocusTypedBlanksAreKept) {
  tGroupStateRec state = sampleState();
  ModalDriver<TqOPCDlgEditGroup> driver([&](TqOPCDlgEditGroup& dialog) {
    GroupForm form(dialog);
    GroupForm::retype(form.eGroupName, "   ");
    QTest::mouseClick(form.bOk, Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(app->BeepCount(), 1);
    EXPECT_EQ(dialog.focusWidget(), form.eGroupName);
    EXPECT_TRUE(app->Entries().isEmpty());

    form.eGroupName->clear();
    QTest::keyClicks(form.eGroupName, " Feed Water  ");
    QTest::mouseClick(form.bOk, Qt::LeftButton);
  });
  ASSERT_TRUE(OPCEditGroupDialog(state));
  EXPECT_EQ(state.Name, " Feed Water  ");
  EXPECT_EQ(app->BeepCount(), 1);
}

TEST_F(GroupDialogTest, Conversions_FailuresAreReportedAndTheDialogStaysNoRangeChecks) {
  tGroupStateRec state = sampleState();
  ModalDriver<TqOPCDlgEditGroup> driver([&](TqOPCDlgEditGroup& dialog) {
    GroupForm form(dialog);
    const auto failsWith = [&](const QString& text) {
      app->Reset();
      QTest::mouseClick(form.bOk, Qt::LeftButton);
      EXPECT_TRUE(dialog.isVisible());
      const auto reported = app->Entries();
      ASSERT_EQ(reported.size(), 1);
      EXPECT_EQ(reported[0].kind, TCaptureApplicationHandler::Kind::Exception);
      EXPECT_EQ(reported[0].className, "EConvertError");
      EXPECT_EQ(reported[0].text, text);
    };
    GroupForm::retype(form.eUpdateRate, "12x");
    failsWith("'12x' is not a valid integer value");
    GroupForm::retype(form.eUpdateRate, "99999999999");
    failsWith("'99999999999' is not a valid integer value");
    GroupForm::retype(form.eUpdateRate, " -100 ");
    GroupForm::retype(form.eDeadBand, "abc");
    failsWith("'abc' is not a valid floating point value");
    GroupForm::retype(form.eDeadBand, "nan");
    failsWith("'nan' is not a valid floating point value");
    GroupForm::retype(form.eDeadBand, "1e39");
    failsWith("'1e39' is not a valid floating point value");
    GroupForm::retype(form.eDeadBand, "1,000.5");
    failsWith("'1,000.5' is not a valid floating point value");
    GroupForm::retype(form.eDeadBand, "-5.25");
    app->Reset();
    QTest::mouseClick(form.bOk, Qt::LeftButton);
    EXPECT_TRUE(app->Entries().isEmpty());
  });
  ASSERT_TRUE(OPCEditGroupDialog(state));
  EXPECT_EQ(state.UpdateRate, -100);
  EXPECT_EQ(state.PercentDeadband, -5.25f);
}

TEST_F(GroupDialogTest, Conversions_UseTheUsersDecimalSeparator) {
  ScopedLocale german(QLocale(QLocale::German, QLocale::Germany));
  tGroupStateRec state = sampleState();
  state.PercentDeadband = 1234.5f;
  ModalDriver<TqOPCDlgEditGroup> driver([&](TqOPCDlgEditGroup& dialog) {
    GroupForm form(dialog);
    EXPECT_EQ(form.eDeadBand->text(), "1234,50") << "no digit grouping, so it reads back";
    GroupForm::retype(form.eDeadBand, "2.5");
    QTest::mouseClick(form.bOk, Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible()) << "'.' is no decimal separator here";
    GroupForm::retype(form.eDeadBand, "2,5");
    QTest::mouseClick(form.bOk, Qt::LeftButton);
  });
  ASSERT_TRUE(OPCEditGroupDialog(state));
  EXPECT_EQ(state.PercentDeadband, 2.5f);
}

TEST_F(GroupDialogTest, Cancel_LeavesTheRecordAsItWas) {
  tGroupStateRec state = sampleState();
  ModalDriver<TqOPCDlgEditGroup> driver([&](TqOPCDlgEditGroup& dialog) {
    GroupForm form(dialog);
    GroupForm::retype(form.eGroupName, "Other");
    GroupForm::retype(form.eUpdateRate, "5");
    GroupForm::retype(form.eDeadBand, "oops");
    QTest::mouseClick(form.bOk, Qt::LeftButton);  // reads the rate and name, fails on the dead band
    ASSERT_TRUE(dialog.isVisible());
    QTest::mouseClick(form.BCancel, Qt::LeftButton);
  });
  EXPECT_FALSE(OPCEditGroupDialog(state));
  expectSame(state, sampleState());

  ModalDriver<TqOPCDlgEditGroup> escape(
      [&](TqOPCDlgEditGroup& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
  EXPECT_FALSE(OPCEditGroupDialog(state));
  expectSame(state, sampleState());
}

// The German translation, found in the build tree: captions and the
// conversion failure change; unloaded, the English texts are back. A user
// who prefers English gets no translation.
TEST_F(GroupDialogTest, Translation_GermanCaptionsAndMessagesEnglishWithout) {
  ASSERT_TRUE(veze6::installTranslations(QLocale(QLocale::German, QLocale::Germany)));
  tGroupStateRec state = sampleState();
  ModalDriver<TqOPCDlgEditGroup> german([&](TqOPCDlgEditGroup& dialog) {
    GroupForm form(dialog);
    EXPECT_EQ(dialog.windowTitle(), "Gruppe bearbeiten");
    EXPECT_EQ(form.BCancel->text(), "&Abbrechen");
    EXPECT_EQ(control<QLabel>(dialog, "Label4")->text(), "Aktualisierungsrate");
    GroupForm::retype(form.eUpdateRate, "12x");
    QTest::mouseClick(form.bOk, Qt::LeftButton);
    ASSERT_EQ(app->Entries().size(), 1);
    EXPECT_EQ(app->Entries()[0].text, "'12x' ist keine gültige ganze Zahl");
    QTest::mouseClick(form.BCancel, Qt::LeftButton);
  });
  EXPECT_FALSE(OPCEditGroupDialog(state));
  veze6::removeTranslations();

  EXPECT_FALSE(veze6::installTranslations(QLocale(QLocale::English, QLocale::Germany)));
  ModalDriver<TqOPCDlgEditGroup> english([&](TqOPCDlgEditGroup& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Edit Group");
    GroupForm form(dialog);
    EXPECT_EQ(form.BCancel->text(), "&Cancel");
    QTest::mouseClick(form.BCancel, Qt::LeftButton);
  });
  EXPECT_FALSE(OPCEditGroupDialog(state));
  veze6::removeTranslations();
}

}  // namespace
