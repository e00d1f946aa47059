// The message box wrapper's real box, when no test script answers it.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include "platform/dialog.h"
#include "platform/message_box.h"
#include "tests/support/qt_fixture.h"

using namespace platform;

namespace {

using MessageBoxes = testsupport::QtFixture;

}  // namespace

// At --scale 2 a real box is as large as the dialogs it stands over.
TEST_F(MessageBoxes, WithoutAScriptARealBoxShowsAtTheDialogScaleAndAnswers) {
  const struct {
    MessageButtons buttons;
    QMessageBox::StandardButton press;  // NoButton: Escape
    int expected;
  } cases[] = {
      {MessageButtons::OkCancel, QMessageBox::Cancel, IDCANCEL}, {MessageButtons::YesNo, QMessageBox::Yes, IDYES},
      {MessageButtons::YesNo, QMessageBox::NoButton, IDNO},      {MessageButtons::YesNoCancel, QMessageBox::No, IDNO},
      {MessageButtons::Ok, QMessageBox::Ok, IDOK},
  };
  const double saved = uiScale();
  setUiScale(2.0);
  MessageBoxScript::end();
  for (const auto& c : cases) {
    testsupport::ModalDriver::whenModal([&c](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_TRUE(box && box->text() == "Stock is low") << "not the message box asked for";
      EXPECT_DOUBLE_EQ(box->font().pointSizeF(), 2 * QApplication::font().pointSizeF()) << "the box ignores the scale";
      if (c.press == QMessageBox::NoButton) return QTest::keyClick(box, Qt::Key_Escape);
      ASSERT_TRUE(box->button(c.press)) << "a button is missing, answer " << c.expected;
      QTest::mouseClick(box->button(c.press), Qt::LeftButton);
    });
    EXPECT_EQ(messageBox(nullptr, "Stock is low", "Adoptra", MessageIcon::Warning, c.buttons), c.expected);
  }
  MessageBoxScript::begin();
  setUiScale(saved);
}
