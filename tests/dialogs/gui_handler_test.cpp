// The application facade's message boxes in a widget application.
#include <QMessageBox>
#include <QPushButton>

#include "common/dialogdriver.h"
#include "exceptions.h"
#include "tguiapplicationhandler.h"

using namespace dialogs_test;

namespace {

class GuiHandlerTest : public veze6::test::LeakCheckedTest {
 protected:
  void SetUp() override {
    previous = Application().SetHandler(std::make_shared<TGuiApplicationHandler>());
  }
  void TearDown() override { Application().SetHandler(previous); }

  std::shared_ptr<TApplicationHandler> previous;
};

QPushButton* buttonWithText(QMessageBox& box, const QString& text) {
  for (QAbstractButton* button : box.buttons())
    if (button->text() == text) return qobject_cast<QPushButton*>(button);
  ADD_FAILURE() << "no button " << text.toStdString();
  return nullptr;
}

TEST_F(GuiHandlerTest, ExceptionsAndMessagesAppearInABox) {
  QString shown;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  {
    ModalDriver<QMessageBox> driver([&](QMessageBox& box) {
      shown = box.text();
      icon = box.icon();
      QTest::keyClick(&box, Qt::Key_Return);
    });
    Application().HandleException(nullptr, EConvertError("'x' is not a valid integer value"));
    EXPECT_TRUE(driver.ran());
  }
  EXPECT_EQ(shown, "'x' is not a valid integer value");
  EXPECT_EQ(icon, QMessageBox::Critical);

  ModalDriver<QMessageBox> driver([&](QMessageBox& box) {
    shown = box.text();
    QTest::keyClick(&box, Qt::Key_Return);
  });
  ShowMessage("no OPC Server found on selected Computer");
  EXPECT_TRUE(driver.ran());
  EXPECT_EQ(shown, "no OPC Server found on selected Computer");
}

TEST_F(GuiHandlerTest, MessageDlg_AnswersWithThePressedButtonsResult) {
  for (const auto& [pressed, result] : {std::pair{"&No", int(mrNo)}, {"&Yes", int(mrYes)}}) {
    ModalDriver<QMessageBox> driver([&, pressed = pressed](QMessageBox& box) {
      EXPECT_EQ(box.icon(), QMessageBox::Question);
      EXPECT_EQ(box.buttons().size(), 2);
      EXPECT_EQ(box.defaultButton(), buttonWithText(box, "&Yes"));
      if (QPushButton* button = buttonWithText(box, pressed))
        QTest::mouseClick(button, Qt::LeftButton);
    });
    EXPECT_EQ(MessageDlg("Delete the group?", TMsgDlgType::mtConfirmation, mbYes | mbNo), result);
  }
  ModalDriver<QMessageBox> escape([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
  EXPECT_EQ(MessageDlg("Go on?", TMsgDlgType::mtWarning, mbOK | mbCancel), mrCancel);
}

}  // namespace
