// The start dialog of the lookup programs: connect by the log-in exchange,
// the status line, the feature button and the password at exit.
#include <QFontMetrics>
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

// Wrapped in its label, the status text needs no more room than the label has.
bool statusShownWhole(const CStartDlg& dlg) {
  const QLabel* status = testsupport::findControl<QLabel>(&dlg, CStartDlg::IDC_STATUS);
  const QRect needed = QFontMetrics(status->font())
                           .boundingRect(QRect(0, 0, status->width(), 10000), Qt::TextWordWrap, status->text());
  return needed.height() <= status->height() && needed.width() <= status->width();
}

class LookupStartTest : public ShellTest {
 protected:
  // Runs Stipendo's start dialog: act runs on it, then it is closed. The
  // actions for the dialogs that act opens follow in order.
  static void runStipendo(const std::function<void(CStartDlg&)>& act, std::vector<ModalDriver::Action> then = {}) {
    CStipendoApp app;
    ModalDriver::whenModal([&](QWidget* modal) {
      if (auto* dlg = qobject_cast<CStartDlg*>(modal)) act(*dlg);
      closeWindow(modal);
    });
    for (ModalDriver::Action& action : then) ModalDriver::whenModal(std::move(action));
    EXPECT_FALSE(app.InitInstance());
  }
};

// A failed log-in shows the server's sentence in the status line, no box.
TEST_F(LookupStartTest, TheStatusLineShowsTheWholeSentenceAtEitherScale) {
  const double saved = platform::uiScale();
  for (const double scale : {1.0, 2.0}) {
    platform::setUiScale(scale);
    const struct {
      const char* keptPassword;
      const char* status;
    } cases[] = {{nullptr, "Enter Password"},
                 {"clerk1", "Logged in as clerk"},
                 {"wrong", "The user name or password is wrong."}};
    for (const auto& c : cases) {
      platform::Profile::remove(QStringLiteral("Stipendo"), QStringLiteral("Password"));
      if (c.keptPassword) keepPassword(wire::kAppStipendo, QStringLiteral("clerk"), c.keptPassword);
      runStipendo([&](CStartDlg& dlg) {
        EXPECT_EQ(dlg.Status(), c.status) << "scale " << scale;
        EXPECT_TRUE(statusShownWhole(dlg)) << c.status << " at scale " << scale;
        EXPECT_EQ(dlg.m_bConnected, c.status == std::string("Logged in as clerk")) << c.status;
        EXPECT_FALSE(dlg.windowIcon().isNull()) << "the start dialog has no icon";
      });
    }
    runStipendo([&](CStartDlg& dlg) {
      for (const char* sentence : {"Too many failed log-ins for a-twenty-char-name; try again in 15 minutes.",
                                   "Cannot reach the store server at bookstore-server.campus.example.edu:8765."}) {
        dlg.SetStatus(sentence);
        EXPECT_TRUE(statusShownWhole(dlg)) << sentence << " at scale " << scale;
      }
      // More than the status area holds is shown whole in a box as well.
      const QString tooLong = QStringLiteral("The store server said more than fits. ").repeated(12);
      platform::MessageBoxScript::arm(platform::IDOK);
      dlg.SetStatus(tooLong);
      ASSERT_EQ(platform::MessageBoxScript::shown().size(), 1u);
      EXPECT_EQ(platform::MessageBoxScript::shown().back().text, tooLong);
    });
    platform::MessageBoxScript::begin();
  }
  platform::setUiScale(saved);
}

TEST_F(LookupStartTest, TheButtonsLogInOnRequestAndTheFeatureOpensOnlyWhenConnected) {
  bool lookupOpened = false;
  runStipendo(
      [](CStartDlg& dlg) {
        EXPECT_FALSE(dlg.m_bConnected) << "connected before the clerk asked";
        testsupport::clickControl(&dlg, CStartDlg::IDC_FEATURE);  // log-in cancelled: nothing opens
        EXPECT_EQ(dlg.Status(), QStringLiteral("Enter Password"));
        testsupport::clickControl(&dlg, CStartDlg::IDC_FEATURE);  // logged in, then the lookup
        EXPECT_EQ(dlg.Status(), QStringLiteral("Logged in as clerk"));
        testsupport::clickControl(&dlg, CStartDlg::IDC_CONFIGURE);  // cancelled: still connected
        EXPECT_TRUE(dlg.m_bConnected);
        testsupport::clickControl(&dlg, CStartDlg::IDC_CONFIGURE);  // a wrong password disconnects
        EXPECT_FALSE(dlg.m_bConnected);
      },
      {cancel, [](QWidget* logInDialog) { logIn(logInDialog, "clerk", "clerk1"); },
       [&](QWidget* lookup) {
         lookupOpened = lookup->windowTitle() == QStringLiteral("Stipendo");
         testsupport::pressKey(lookup, Qt::Key_Escape);
       },
       cancel, [](QWidget* logInDialog) { logIn(logInDialog, "clerk", "nope"); }});
  EXPECT_TRUE(lookupOpened);
}

// Each log-in decides anew; the program forgets only its own unkept password.
TEST_F(LookupStartTest, APasswordOutlivesTheProgramOnlyWhenKept) {
  for (int app : {wire::kAppSellin, wire::kAppAdoptra}) {
    const QString section = CGlobalFunctions::GetAppName(app);
    platform::Profile::writeString(section, QStringLiteral("UserName"), QStringLiteral("clerk"));
    platform::Profile::writeString(section, QStringLiteral("Password"), QStringLiteral("left-over"));
  }
  for (const bool keep : {true, false}) {
    runStipendo([](CStartDlg& dlg) { testsupport::clickControl(&dlg, CStartDlg::IDC_CONFIGURE); },
                {[keep](QWidget* logInDialog) { logIn(logInDialog, "clerk", "clerk1", keep); }});
    EXPECT_EQ(CGlobalFunctions::IsPasswordSet(wire::kAppStipendo), keep);
  }
  EXPECT_TRUE(CGlobalFunctions::IsPasswordSet(wire::kAppSellin));
  EXPECT_TRUE(CGlobalFunctions::IsPasswordSet(wire::kAppAdoptra));
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
