// The message box wrapper: scripted answers, the script's own reports, and
// the real box when no script runs.
#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

#include "platform/message_box.h"
#include "tests/support/qt_fixture.h"

using namespace platform;
using testsupport::ModalDriver;

namespace {

using MessageBoxes = testsupport::QtFixture;

}  // namespace

TEST_F(MessageBoxes, ArmedAnswersAreTakenInOrderAndBoxesRecorded) {
  MessageBoxScript::arm(IDYES);
  MessageBoxScript::arm(IDOK);
  EXPECT_EQ(messageBox(nullptr, "Delete this ticket?", "Sellin", MessageIcon::Question, MessageButtons::YesNo), IDYES);
  EXPECT_EQ(messageBox(nullptr, "501 No inventory", "Lookup", MessageIcon::Stop, MessageButtons::Ok), IDOK);

  const auto& shown = MessageBoxScript::shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, QStringLiteral("Delete this ticket?"));
  EXPECT_EQ(shown[0].caption, QStringLiteral("Sellin"));
  EXPECT_EQ(shown[0].icon, MessageIcon::Question);
  EXPECT_EQ(shown[0].buttons, MessageButtons::YesNo);
  EXPECT_EQ(shown[1].icon, MessageIcon::Stop);
  EXPECT_EQ(shown[1].buttons, MessageButtons::Ok);
  EXPECT_TRUE(shown[1].answered);
  EXPECT_EQ(MessageBoxScript::unansweredCount(), 0);
  EXPECT_EQ(MessageBoxScript::leftoverAnswerCount(), 0);
  EXPECT_TRUE(testsupport::messageBoxProblems().isEmpty());
}

TEST_F(MessageBoxes, UnarmedOrUnfittingBoxesAndLeftoversAreReported) {
  // Nothing armed: dismissed the way the box itself would be.
  EXPECT_EQ(messageBox(nullptr, "Discard?", {}, MessageIcon::Question, MessageButtons::YesNo), IDNO);
  EXPECT_EQ(messageBox(nullptr, "Retry?", {}, MessageIcon::Warning, MessageButtons::OkCancel), IDCANCEL);
  // An answer the box does not offer is used up and reported.
  MessageBoxScript::arm(IDYES);
  EXPECT_EQ(messageBox(nullptr, "Saved", {}, MessageIcon::Information, MessageButtons::Ok), IDCANCEL);
  MessageBoxScript::arm(IDOK);
  MessageBoxScript::arm(IDNO);
  EXPECT_EQ(messageBox(nullptr, "Printed", {}, MessageIcon::None, MessageButtons::OkCancel), IDOK);

  EXPECT_EQ(MessageBoxScript::unansweredCount(), 3);
  EXPECT_EQ(MessageBoxScript::leftoverAnswerCount(), 1);
  const QString problems = testsupport::messageBoxProblems().join('\n');
  for (const char* text : {"Discard?", "Retry?", "Saved", "1 armed"}) EXPECT_TRUE(problems.contains(text)) << text;
  EXPECT_FALSE(problems.contains("Printed"));

  MessageBoxScript::begin();  // this test expected them; start clean for the fixture
  EXPECT_TRUE(testsupport::messageBoxProblems().isEmpty());
}

TEST_F(MessageBoxes, WithoutAScriptARealBoxShowsAndAnswers) {
  struct Case {
    MessageIcon icon;
    MessageButtons buttons;
    QMessageBox::Icon qtIcon;
    QMessageBox::StandardButton press;  // NoButton: Escape
    int expected;
  };
  const Case cases[] = {
      {MessageIcon::Stop, MessageButtons::OkCancel, QMessageBox::Critical, QMessageBox::Cancel, IDCANCEL},
      {MessageIcon::Question, MessageButtons::YesNo, QMessageBox::Question, QMessageBox::Yes, IDYES},
      {MessageIcon::Question, MessageButtons::YesNo, QMessageBox::Question, QMessageBox::NoButton, IDNO},
      {MessageIcon::Warning, MessageButtons::YesNoCancel, QMessageBox::Warning, QMessageBox::No, IDNO},
      {MessageIcon::Information, MessageButtons::Ok, QMessageBox::Information, QMessageBox::Ok, IDOK},
  };
  MessageBoxScript::end();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    ModalDriver::whenModal([&c](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_TRUE(box);
      EXPECT_EQ(box->icon(), c.qtIcon);
      EXPECT_EQ(box->text(), QStringLiteral("Stock is low"));
      EXPECT_EQ(box->windowTitle(), QStringLiteral("Adoptra"));
      if (c.press == QMessageBox::NoButton)
        QTest::keyClick(box, Qt::Key_Escape);
      else
        QTest::mouseClick(box->button(c.press), Qt::LeftButton);
    });
    EXPECT_EQ(messageBox(nullptr, "Stock is low", "Adoptra", c.icon, c.buttons), c.expected);
  }
  MessageBoxScript::begin();
}
