// The log-in dialog, the stored password and the server address.
#include <QLineEdit>

#include "platform/message_box.h"
#include "platform/profile.h"
#include "tessel/global_functions.h"
#include "tessel/login_dlg.h"
#include "tessel/socket_message.h"
#include "tessel/tessel_config.h"
#include "tests/support/qt_fixture.h"

namespace {

using platform::MessageBoxScript;
using testsupport::ModalDriver;

constexpr int kStipendo = 2;

class GlobalFunctionsTest : public testsupport::QtFixture {
 protected:
  void SetUp() override {
    QtFixture::SetUp();
    CTesselConfig::ClearOverrides();
    CTesselConfig::ApplyArguments({QStringLiteral("--server"), QStringLiteral("http://127.0.0.1:9")});
  }
  void TearDown() override {
    CGlobalFunctions::CleanPassword(kStipendo);
    CTesselConfig::ClearOverrides();
    QtFixture::TearDown();
  }
};

TEST_F(GlobalFunctionsTest, TheNextLogInOffersTheLastUserAndAKeptPassword) {
  platform::Profile::writeString(QStringLiteral("Stipendo"), QStringLiteral("UserName"), QStringLiteral("clerk"));
  platform::Profile::writeString(QStringLiteral("Stipendo"), QStringLiteral("Password"), QStringLiteral("clerk1"));
  platform::Profile::writeInt(QStringLiteral("Stipendo"), QStringLiteral("KeepPassword"), 1);
  QString offered;
  ModalDriver::whenModal([&](QWidget* dlg) {
    for (int id : {CLogInDlg::IDC_USER, CLogInDlg::IDC_PASSWORD})
      offered += testsupport::findControl<QLineEdit>(dlg, id)->text() + "|";
    testsupport::clickControl(dlg, platform::IDCANCEL);
  });
  EXPECT_FALSE(CGlobalFunctions::DoOnLogIn(kStipendo));
  EXPECT_EQ(offered, QStringLiteral("clerk|clerk1|"));
  EXPECT_TRUE(CGlobalFunctions::IsPasswordSet(kStipendo)) << "cancelling the log-in forgot the kept password";
}

TEST_F(GlobalFunctionsTest, FillSocketMsgNeedsALogInThatRefusedEmptyFieldsAndAServer) {
  CSocketMessage msg(kStipendo);
  EXPECT_FALSE(CGlobalFunctions::FillSocketMsg(kStipendo, msg, nullptr)) << "no log-in yet";

  MessageBoxScript::arm(platform::IDOK);
  ModalDriver::whenModal([](QWidget* dlg) {
    testsupport::typeInto(dlg, CLogInDlg::IDC_USER, QStringLiteral("clerk"));
    testsupport::clickControl(dlg, platform::IDOK);  // no password: an information box, still open
    EXPECT_TRUE(dlg->isVisible());
    testsupport::typeInto(dlg, CLogInDlg::IDC_PASSWORD, QStringLiteral("clerk1"));
    testsupport::clickControl(dlg, platform::IDOK);
  });
  ASSERT_TRUE(CGlobalFunctions::DoOnLogIn(kStipendo));
  ASSERT_EQ(MessageBoxScript::shown().size(), 1u);
  EXPECT_EQ(MessageBoxScript::shown()[0].icon, platform::MessageIcon::Information);
  EXPECT_TRUE(platform::Profile::readString(QStringLiteral("Stipendo"), QStringLiteral("Password")).isEmpty())
      << "an unkept password was written to the profile";
  EXPECT_TRUE(CGlobalFunctions::FillSocketMsg(kStipendo, msg, nullptr));
  EXPECT_TRUE(msg.HasCredentials());
  EXPECT_EQ(msg.GetServer(), QStringLiteral("http://127.0.0.1:9"));

  CTesselConfig::ClearOverrides();
  platform::Profile::writeString(CTesselConfig::SectionName(), QStringLiteral("Server"), QString());
  MessageBoxScript::arm(platform::IDOK);
  EXPECT_FALSE(CGlobalFunctions::FillSocketMsg(kStipendo, msg, nullptr));
  ASSERT_EQ(MessageBoxScript::shown().size(), 2u);
  EXPECT_NE(MessageBoxScript::shown()[1].text.indexOf(QStringLiteral("--server")), -1)
      << MessageBoxScript::shown()[1].text.toStdString();
}

}  // namespace
