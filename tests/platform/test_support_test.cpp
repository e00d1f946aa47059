// The test support itself: the modal driver with its fallback, the control
// helpers and the left-over widget check.
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest-spi.h>

#include "platform/dialog.h"
#include "platform/message_box.h"
#include "tests/support/qt_fixture.h"

using namespace platform;
using testsupport::ModalDriver;

namespace {

enum { kEntry = 1001, kOpenInner, kHiddenButton };

DialogTemplate driverTemplate(const QString& title) {
  DialogTemplate t;
  t.title = title;
  t.size = {120, 60};
  t.controls = {
      {kEntry, ControlKind::Edit, {}, {4, 4, 80, 14}, Border},
      {kOpenInner, ControlKind::PushButton, QStringLiteral("Inner"), {4, 24, 40, 14}},
      {kHiddenButton, ControlKind::PushButton, QStringLiteral("Hidden"), {48, 24, 40, 14}, Hidden},
  };
  return t;
}

class StubbornDialog : public Dialog {
 public:
  using Dialog::Dialog;

 protected:
  void onCancel() override {}  // refuses Escape, close and reject()
};

using TestSupport = testsupport::QtFixture;

}  // namespace

TEST_F(TestSupport, ActionsRunInOrderOnEachNewModalIncludingNestedOnes) {
  Dialog outer(driverTemplate("Outer"));
  Dialog inner(driverTemplate("Inner"));
  QStringList seen;
  int innerResult = 0;
  QObject::connect(outer.button(kOpenInner), &QPushButton::clicked, &outer, [&] { innerResult = inner.runModal(); });

  ModalDriver::whenModal([&](QWidget* modal) {
    seen << modal->windowTitle();
    testsupport::clickControl(modal, kOpenInner);  // returns once the inner dialog has ended
    seen << QStringLiteral("inner gave %1").arg(innerResult);
    outer.endDialog(IDOK);
  });
  ModalDriver::whenModal([&](QWidget* modal) {
    seen << modal->windowTitle();
    testsupport::typeInto(modal, kEntry, "978");
    inner.endDialog(12);
  });
  ModalDriver::whenModal([&](QWidget* modal) {
    seen << QStringLiteral("again ") + modal->windowTitle();
    inner.endDialog(IDCANCEL);
  });

  EXPECT_EQ(outer.runModal(), IDOK);
  EXPECT_EQ(inner.runModal(), IDCANCEL) << "a dialog shown again takes the next action";
  EXPECT_EQ(seen, QStringList({"Outer", "Inner", "inner gave 12", "again Inner"}));
  EXPECT_EQ(inner.controlText(kEntry), QStringLiteral("978"));
  EXPECT_EQ(ModalDriver::actedCount(), 3);
}

TEST_F(TestSupport, FallbackClosesADialogNobodyAnswersAndReportsIt) {
  ModalDriver::setFallbackTimeout(50);
  Dialog plain(driverTemplate("Forgotten"));
  EXPECT_EQ(plain.runModal(), IDCANCEL);
  StubbornDialog stubborn(driverTemplate("Stubborn"));
  EXPECT_EQ(stubborn.runModal(), IDCANCEL) << "closed even though its cancel refuses";

  const QStringList problems = ModalDriver::takeProblems();
  ASSERT_EQ(problems.size(), 2) << qPrintable(problems.join('\n'));
  EXPECT_TRUE(problems[0].contains("Forgotten")) << qPrintable(problems[0]);
  EXPECT_TRUE(problems[1].contains("Stubborn")) << qPrintable(problems[1]);
}

TEST_F(TestSupport, FallbackClosesADialogItsActionLeftOpen) {
  ModalDriver::setFallbackTimeout(50);
  Dialog dlg(driverTemplate("Half done"));
  ModalDriver::whenModal([](QWidget* modal) { testsupport::typeInto(modal, kEntry, "1"); });
  EXPECT_EQ(dlg.runModal(), IDCANCEL);
  const QStringList problems = ModalDriver::takeProblems();
  ASSERT_EQ(problems.size(), 1);
  EXPECT_TRUE(problems[0].contains("after its action")) << qPrintable(problems[0]);
}

TEST_F(TestSupport, ActionsLeftQueuedAreReportedWithWhereTheyWereQueued) {
  ModalDriver::whenModal([](QWidget*) {});
  EXPECT_EQ(ModalDriver::pendingCount(), 1);
  const QStringList problems = ModalDriver::takeProblems();
  ASSERT_EQ(problems.size(), 1);
  EXPECT_TRUE(problems[0].contains("test_support_test.cpp")) << qPrintable(problems[0]);
  EXPECT_EQ(ModalDriver::pendingCount(), 0);
}

TEST_F(TestSupport, HelpersFailOnMissingOrHiddenControls) {
  Dialog dlg(driverTemplate("Helpers"));
  dlg.show();
  EXPECT_NONFATAL_FAILURE(testsupport::clickControl(&dlg, 4242), "no control 4242");
  EXPECT_NONFATAL_FAILURE(testsupport::clickControl(&dlg, kHiddenButton), "not visible");
  EXPECT_NONFATAL_FAILURE(testsupport::replaceText(&dlg, kOpenInner, "x"), "not a single-line edit");
  testsupport::typeInto(&dlg, kEntry, "12");
  testsupport::typeInto(&dlg, kEntry, "34");
  EXPECT_EQ(dlg.controlText(kEntry), QStringLiteral("1234"));
  testsupport::replaceText(&dlg, kEntry, "56");
  EXPECT_EQ(dlg.controlText(kEntry), QStringLiteral("56"));
  dlg.hide();
}

TEST_F(TestSupport, LeftOverTopLevelWidgetsAreFound) {
  const QSet<QWidget*> before = testsupport::topLevelWidgetSet();
  auto* kept = new QWidget;
  auto* deferred = new QWidget;
  deferred->show();
  deferred->deleteLater();
  EXPECT_EQ(testsupport::newTopLevelWidgets(before), QList<QWidget*>({kept})) << "deferred deletes done first";
  delete kept;
  EXPECT_TRUE(testsupport::newTopLevelWidgets(before).isEmpty());
}

TEST_F(TestSupport, TearDownFailsOnEveryKindOfLeftover) {
  MessageBoxScript::arm(IDYES);
  MessageBoxScript::arm(IDNO);
  messageBox(nullptr, "Nobody armed me", {}, MessageIcon::Warning, MessageButtons::Ok);
  ModalDriver::whenModal([](QWidget*) {});
  auto* stray = new QWidget;
  stray->setWindowTitle("Stray");
  stray->show();

  ::testing::TestPartResultArray failures;
  {
    const ::testing::ScopedFakeTestPartResultReporter intercept(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    TearDown();
  }
  QStringList messages;
  for (int i = 0; i < failures.size(); ++i) messages << QString::fromUtf8(failures.GetTestPartResult(i).message());
  const QString all = messages.join('\n');
  EXPECT_EQ(messages.size(), 4) << qPrintable(all);
  for (const char* part : {"never ran", "Nobody armed me", "1 armed", "Stray"})
    EXPECT_TRUE(all.contains(part)) << part << "\n" << qPrintable(all);
  EXPECT_FALSE(stray->isVisible());

  delete stray;
  SetUp();  // the fixture's own TearDown follows
}
