// The message box wrapper: scripted answers, and the real box when no script runs.
#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

#include "platform/message_box.h"
#include "tests/support/qt_fixture.h"

using namespace platform;

namespace {

using MessageBoxes = testsupport::QtFixture;

}  // namespace

TEST_F(MessageBoxes, ArmedAnswersAreTakenInOrderAndMissingOrUnfittingOnesCounted) {
  MessageBoxScript::arm(IDYES);
  MessageBoxScript::arm(IDOK);
  EXPECT_EQ(messageBox(nullptr, "Delete this ticket?", "Sellin", MessageIcon::Question, MessageButtons::YesNo), IDYES);
  EXPECT_EQ(messageBox(nullptr, "501 No inventory", "Lookup", MessageIcon::Stop, MessageButtons::Ok), IDOK);
  ASSERT_EQ(MessageBoxScript::shown().size(), 2u) << "boxes not recorded";

  // Nothing armed: dismissed the way the box itself would be.
  EXPECT_EQ(messageBox(nullptr, "Discard?", {}, MessageIcon::Question, MessageButtons::YesNo), IDNO);
  EXPECT_EQ(messageBox(nullptr, "Retry?", {}, MessageIcon::Warning, MessageButtons::OkCancel), IDCANCEL);
  // An answer the box does not offer is used up and counted.
  MessageBoxScript::arm(IDYES);
  EXPECT_EQ(messageBox(nullptr, "Saved", {}, MessageIcon::Information, MessageButtons::Ok), IDCANCEL);
  MessageBoxScript::arm(IDOK);
  MessageBoxScript::arm(IDNO);
  EXPECT_EQ(messageBox(nullptr, "Printed", {}, MessageIcon::None, MessageButtons::OkCancel), IDOK);
  EXPECT_EQ(MessageBoxScript::unansweredCount(), 3);
  EXPECT_EQ(MessageBoxScript::leftoverAnswerCount(), 1);
  MessageBoxScript::begin();  // this test expected them; start clean for the fixture
}

TEST_F(MessageBoxes, WithoutAScriptARealBoxShowsAndAnswers) {
  const struct {
    MessageButtons buttons;
    QMessageBox::StandardButton press;  // NoButton: Escape
    int expected;
  } cases[] = {
      {MessageButtons::OkCancel, QMessageBox::Cancel, IDCANCEL}, {MessageButtons::YesNo, QMessageBox::Yes, IDYES},
      {MessageButtons::YesNo, QMessageBox::NoButton, IDNO},      {MessageButtons::YesNoCancel, QMessageBox::No, IDNO},
      {MessageButtons::Ok, QMessageBox::Ok, IDOK},
  };
  MessageBoxScript::end();
  for (const auto& c : cases) {
    testsupport::ModalDriver::whenModal([&c](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_TRUE(box && box->text() == "Stock is low") << "not the message box asked for";
      if (c.press == QMessageBox::NoButton) return QTest::keyClick(box, Qt::Key_Escape);
      ASSERT_TRUE(box->button(c.press)) << "a button is missing, answer " << c.expected;
      QTest::mouseClick(box->button(c.press), Qt::LeftButton);
    });
    EXPECT_EQ(messageBox(nullptr, "Stock is low", "Adoptra", MessageIcon::Warning, c.buttons), c.expected);
  }
  MessageBoxScript::begin();
}
