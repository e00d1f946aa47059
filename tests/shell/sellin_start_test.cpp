// Sellin's connect loop: log-in, the buyer's session query, the session choice.
#include <QListWidget>

#include "platform/message_box.h"
#include "platform/profile.h"
#include "sellin/select_session_dlg.h"
#include "sellin/sellin_start.h"
#include "tessel/socket_message.h"
#include "shell/start_dlg.h"
#include "tests/shell/shell_fixture.h"
#include "wire/exchange.h"

namespace shell_test {
namespace {

using platform::MessageBoxScript;
using testsupport::ModalDriver;

const CProgramConstants kSellin{wire::kAppSellin, "Sellin", "Sellin", 1045, 54, 50};

class SellinStartTest : public ShellTest {
 protected:
  // Runs the start dialog with the queued actions; the first one must close it.
  void runStart() {
    CStartDlg dlg(kSellin, start_);
    dlg.runModal();
  }

  void useBuyer(const QString& user, const QString& password) {
    setSellinValue(QStringLiteral("BuyerUser"), user);
    setSellinValue(QStringLiteral("BuyerPass"), password);
  }

  CSocketMessage msg_{wire::kAppSellin};
  CSellinStart start_{msg_};
};

void chooseRow(QWidget* chooser, int row) {
  auto* list = testsupport::findControl<QListWidget>(chooser, CSelectSessionDlg::IDC_SESSIONS);
  ASSERT_NE(list, nullptr) << "not the session chooser";
  ASSERT_LT(row, list->count());
  list->setCurrentRow(row);
  testsupport::pressKey(chooser, Qt::Key_Return);
}

TEST_F(SellinStartTest, ACancelledSessionChoiceAsksForTheLogInAgain) {
  useBuyer(QStringLiteral("buyer"), QStringLiteral("buyer1"));
  CStartDlg* seen = nullptr;
  ModalDriver::whenModal([&](QWidget* modal) {
    seen = qobject_cast<CStartDlg*>(modal);
    testsupport::clickControl(modal, CStartDlg::IDC_CONFIGURE);
    EXPECT_TRUE(seen->m_bConnected);
    EXPECT_EQ(statusOf(modal), QStringLiteral("buyer"));
    closeWindow(modal);
  });
  ModalDriver::whenModal([](QWidget* logInDialog) { logIn(logInDialog, "buyer", "buyer1"); });
  ModalDriver::whenModal([](QWidget* chooser) { cancel(chooser); });
  ModalDriver::whenModal([](QWidget* logInDialog) { logIn(logInDialog, "buyer", "buyer1"); });
  // Store 1's open sessions sorted: "Spring Buyback", "Walk-in Buyback", "Wholesale Only" twice.
  ModalDriver::whenModal([](QWidget* chooser) { chooseRow(chooser, 1); });
  runStart();
  EXPECT_EQ(start_.m_session.m_nSessionID, 1002);
  EXPECT_EQ(start_.m_session.m_strDescription, QStringLiteral("  Walk-in Buyback"))
      << "the chosen record is copied as received";
  EXPECT_EQ(start_.m_session.m_nTranMaxQty, 6);
}

TEST_F(SellinStartTest, TheLoopEndsAfterItsBoundedPasses) {
  useBuyer(QStringLiteral("buyer"), QStringLiteral("wrong"));
  for (int pass = 0; pass <= CSellinStart::kMaxLogInPasses; ++pass) MessageBoxScript::arm(platform::IDOK);
  ModalDriver::whenModal([](QWidget* modal) {
    testsupport::clickControl(modal, CStartDlg::IDC_CONFIGURE);
    EXPECT_EQ(statusOf(modal), QStringLiteral("Not Logged In"));
    closeWindow(modal);
  });
  for (int pass = 0; pass < CSellinStart::kMaxLogInPasses; ++pass)
    ModalDriver::whenModal([](QWidget* logInDialog) { logIn(logInDialog, "buyer", "buyer1"); });
  runStart();
  ASSERT_EQ(MessageBoxScript::shown().size(), size_t(CSellinStart::kMaxLogInPasses + 1));
  EXPECT_EQ(MessageBoxScript::shown()[0].text, QStringLiteral("The buyer user name or password is wrong."));
  EXPECT_EQ(MessageBoxScript::shown()[0].icon, platform::MessageIcon::Stop);
  EXPECT_NE(MessageBoxScript::shown().back().text.indexOf(QStringLiteral("Configure")), -1);
}

TEST_F(SellinStartTest, TheFeatureButtonConnectsFirstAndACancelledLogInOpensNothing) {
  useBuyer(QStringLiteral("buyer"), QStringLiteral("buyer1"));
  ModalDriver::whenModal([](QWidget* modal) {
    testsupport::clickControl(modal, CStartDlg::IDC_FEATURE);  // cancelled log-in
    EXPECT_EQ(statusOf(modal), QStringLiteral("Not Logged In"));
    testsupport::clickControl(modal, CStartDlg::IDC_FEATURE);
    EXPECT_EQ(statusOf(modal), QStringLiteral("buyer"));
    closeWindow(modal);
  });
  ModalDriver::whenModal([](QWidget* logInDialog) { cancel(logInDialog); });
  ModalDriver::whenModal([](QWidget* logInDialog) { logIn(logInDialog, "buyer", "buyer1"); });
  ModalDriver::whenModal([](QWidget* chooser) { chooseRow(chooser, 0); });
  // The ticket of the chosen session asks for the student first; cancelled, it closes.
  ModalDriver::whenModal([](QWidget* studentPrompt) { cancel(studentPrompt); });
  runStart();
  EXPECT_TRUE(MessageBoxScript::shown().empty());
  EXPECT_EQ(start_.m_session.m_nSessionID, 1001);
}

}  // namespace
}  // namespace shell_test
