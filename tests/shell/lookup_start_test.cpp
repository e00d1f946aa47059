// The start dialog of the lookup programs: connect by the log-in exchange,
// the status line, the feature button and the password at exit.
#include <QLabel>

#include "adoptra/adoptra_app.h"
#include "platform/message_box.h"
#include "platform/profile.h"
#include "shell/start_dlg.h"
#include "stipendo/stipendo_app.h"
#include "tessel/global_functions.h"
#include "tests/shell/shell_fixture.h"
#include "wire/exchange.h"

namespace shell_test {
namespace {

using testsupport::ModalDriver;

CStartDlg* startDialog(QWidget* modal) {
  auto* dlg = qobject_cast<CStartDlg*>(modal);
  EXPECT_NE(dlg, nullptr) << "the modal widget is not the start dialog";
  return dlg;
}

class LookupStartTest : public ShellTest {};

TEST_F(LookupStartTest, WithoutAStoredPasswordItWaitsForTheClerk) {
  CStipendoApp app;
  ModalDriver::whenModal([&](QWidget* modal) {
    EXPECT_EQ(modal->windowTitle(), QStringLiteral("Stipendo"));
    EXPECT_EQ(statusOf(modal), QStringLiteral("Enter Password"));
    EXPECT_EQ(testsupport::findControl<QLabel>(modal, 1017)->text(), QStringLiteral("Ostrand Company"));
    EXPECT_GT(testsupport::findControl(modal, 1017)->font().pointSizeF(),
              testsupport::findControl(modal, CStartDlg::IDC_STATUS)->font().pointSizeF());
    EXPECT_FALSE(app.m_socketMsg.IsLoggedIn()) << "an exchange ran before the clerk asked for one";
    closeWindow(modal);
  });
  EXPECT_FALSE(app.InitInstance());
}

TEST_F(LookupStartTest, AKeptPasswordConnectsOnceTheDialogIsShown) {
  keepPassword(wire::kAppStipendo, QStringLiteral("clerk"), QStringLiteral("clerk1"));
  CStipendoApp app;
  ModalDriver::whenModal([&](QWidget* modal) {
    EXPECT_TRUE(startDialog(modal)->m_bConnected);
    EXPECT_EQ(statusOf(modal), QStringLiteral("Logged in as clerk"));
    closeWindow(modal);
  });
  app.InitInstance();
  EXPECT_TRUE(CGlobalFunctions::IsPasswordSet(wire::kAppStipendo)) << "a kept password was forgotten at exit";
}

TEST_F(LookupStartTest, AFailedLogInShowsTheServersTextAndTheButtonAsksAgain) {
  keepPassword(wire::kAppStipendo, QStringLiteral("clerk"), QStringLiteral("wrong"));
  CStipendoApp app;
  QString failedStatus;
  ModalDriver::whenModal([&](QWidget* modal) {
    failedStatus = statusOf(modal);
    EXPECT_FALSE(startDialog(modal)->m_bConnected);
    testsupport::clickControl(modal, CStartDlg::IDC_FEATURE);  // the log-in dialog comes; cancelled below
    EXPECT_EQ(statusOf(modal), failedStatus) << "a cancelled log-in changed the status line";
    closeWindow(modal);
  });
  ModalDriver::whenModal([](QWidget* logInDialog) { cancel(logInDialog); });
  app.InitInstance();
  EXPECT_NE(failedStatus, QStringLiteral("Connecting"));
  EXPECT_NE(failedStatus.indexOf(QStringLiteral("password")), -1) << failedStatus.toStdString();
  EXPECT_TRUE(platform::MessageBoxScript::shown().empty()) << "a failed log-in packet must not open a box";
}

TEST_F(LookupStartTest, TheFeatureButtonLogsInFirstThenOpensTheLookup) {
  CStipendoApp app;
  bool lookupOpened = false;
  ModalDriver::whenModal([&](QWidget* modal) {
    testsupport::clickControl(modal, CStartDlg::IDC_FEATURE);
    EXPECT_EQ(statusOf(modal), QStringLiteral("Logged in as clerk"));
    closeWindow(modal);
  });
  ModalDriver::whenModal([](QWidget* logInDialog) { logIn(logInDialog, "clerk", "clerk1"); });
  ModalDriver::whenModal([&](QWidget* lookup) {
    lookupOpened = lookup->windowTitle() == QStringLiteral("Stipendo");
    testsupport::pressKey(lookup, Qt::Key_Escape);
  });
  app.InitInstance();
  EXPECT_TRUE(lookupOpened);
  EXPECT_FALSE(CGlobalFunctions::IsPasswordSet(wire::kAppStipendo)) << "an unkept password outlived the program";
}

TEST_F(LookupStartTest, ConfigureCancelledKeepsTheConnectionAndAFailedOneDropsIt) {
  keepPassword(wire::kAppStipendo, QStringLiteral("clerk"), QStringLiteral("clerk1"));
  CStipendoApp app;
  ModalDriver::whenModal([&](QWidget* modal) {
    CStartDlg* dlg = startDialog(modal);
    ASSERT_TRUE(dlg->m_bConnected);
    testsupport::clickControl(modal, CStartDlg::IDC_CONFIGURE);  // cancelled
    EXPECT_TRUE(dlg->m_bConnected);
    EXPECT_EQ(dlg->Status(), QStringLiteral("Logged in as clerk"));
    testsupport::clickControl(modal, CStartDlg::IDC_CONFIGURE);  // wrong password
    EXPECT_FALSE(dlg->m_bConnected);
    EXPECT_NE(dlg->Status(), QStringLiteral("Logged in as clerk"));
    closeWindow(modal);
  });
  ModalDriver::whenModal([](QWidget* logInDialog) { cancel(logInDialog); });
  ModalDriver::whenModal([](QWidget* logInDialog) { logIn(logInDialog, "clerk", "nope"); });
  app.InitInstance();
}

TEST_F(LookupStartTest, ExitForgetsOnlyThisProgramsUnkeptPassword) {
  for (int app : {wire::kAppSellin, wire::kAppAdoptra, wire::kAppStipendo}) {
    const QString section = CGlobalFunctions::GetAppName(app);
    platform::Profile::writeString(section, QStringLiteral("UserName"), QStringLiteral("clerk"));
    platform::Profile::writeString(section, QStringLiteral("Password"), QStringLiteral("left-over"));
  }
  {
    CStipendoApp app;
    ModalDriver::whenModal([](QWidget* modal) { closeWindow(modal); });
    app.InitInstance();
  }
  EXPECT_FALSE(CGlobalFunctions::IsPasswordSet(wire::kAppStipendo));
  EXPECT_TRUE(CGlobalFunctions::IsPasswordSet(wire::kAppSellin));
  EXPECT_TRUE(CGlobalFunctions::IsPasswordSet(wire::kAppAdoptra));
}

TEST_F(LookupStartTest, KeepingIsChosenAtEachLogIn) {
  const auto runOnce = [](bool keep) {
    CStipendoApp app;
    ModalDriver::whenModal([](QWidget* modal) {
      testsupport::clickControl(modal, CStartDlg::IDC_CONFIGURE);
      closeWindow(modal);
    });
    ModalDriver::whenModal([keep](QWidget* logInDialog) { logIn(logInDialog, "clerk", "clerk1", keep); });
    app.InitInstance();
  };
  runOnce(true);
  EXPECT_TRUE(CGlobalFunctions::IsPasswordSet(wire::kAppStipendo));
  runOnce(false);
  EXPECT_FALSE(CGlobalFunctions::IsPasswordSet(wire::kAppStipendo));
}

TEST_F(LookupStartTest, AdoptraLoadsItsStoresLocationsTrimmedAndASecondLogInReplacesThem) {
  keepPassword(wire::kAppAdoptra, QStringLiteral("clerk"), QStringLiteral("clerk1"));
  CAdoptraApp app;
  QStringList firstNames;
  QStringList secondNames;
  const auto names = [&app] {
    QStringList out;
    for (int i = 0; i < app.m_locations.GetSize(); ++i) out << app.m_locations[i].m_strName;
    return out;
  };
  ModalDriver::whenModal([&](QWidget* modal) {
    firstNames = names();
    testsupport::clickControl(modal, CStartDlg::IDC_CONFIGURE);
    secondNames = names();
    closeWindow(modal);
  });
  ModalDriver::whenModal([](QWidget* logInDialog) { logIn(logInDialog, "manager", "manager1"); });
  app.InitInstance();

  EXPECT_EQ(firstNames, (QStringList{"Main Floor", "Annex", "Textbooks, Second Floor", "Warehouse"}));
  EXPECT_EQ(secondNames, (QStringList{"North Store", "Library Kiosk"}));
  EXPECT_EQ(app.m_locations.GetSize(), 0) << "the location list outlived the start dialog";
}

}  // namespace
}  // namespace shell_test
