// The start dialogs on the demo server: log-in, status line, feature button, kept password, Sellin's session choice.
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include "adoptra/adoptra_app.h"
#include "platform/message_box.h"
#include "platform/profile.h"
#include "sellin/select_session_dlg.h"
#include "sellin/sellin_start.h"
#include "shell/start_dlg.h"
#include "stipendo/stipendo_app.h"
#include "tessel/global_functions.h"
#include "tessel/socket_message.h"
#include "tessel/tessel_config.h"
#include "tests/support/app_fixture.h"
#include "wire/exchange.h"

namespace {

using platform::MessageBoxScript;
using testsupport::logIn;
using testsupport::ModalDriver;

class ShellTest : public testsupport::QtFixture {
 protected:
  void SetUp() override {
    QtFixture::SetUp();
    ASSERT_TRUE(server_.started());
    CTesselConfig::ClearOverrides();
    CTesselConfig::Override({.server = server_.url()});
  }

  void TearDown() override {
    for (int app : {0, 1, 2}) CGlobalFunctions::CleanPassword(app);
    CTesselConfig::ClearOverrides();
    QtFixture::TearDown();
  }

  // Writes a password the program keeps between runs, as a ticked log-in would.
  static void keepPassword(int appType, const QString& user, const QString& password) {
    const QString section = CGlobalFunctions::GetAppName(appType);
    platform::Profile::writeString(section, QStringLiteral("UserName"), user);
    platform::Profile::writeString(section, QStringLiteral("Password"), password);
    platform::Profile::writeInt(section, QStringLiteral("KeepPassword"), 1);
  }

  testsupport::DemoServer server_;
};

void cancel(QWidget* dialog) { testsupport::clickControl(dialog, platform::IDCANCEL); }

// Wrapped in its label, the status text needs no more room than the label has.
bool statusShownWhole(const CStartDlg& dlg) {
  const QLabel* status = testsupport::findControl<QLabel>(&dlg, CStartDlg::IDC_STATUS);
  const QRect needed =
      QFontMetrics(status->font()).boundingRect(QRect(0, 0, status->width(), 10000), Qt::TextWordWrap, status->text());
  return needed.height() <= status->height() && needed.width() <= status->width();
}

// Runs Stipendo's start dialog: act runs on it, then it is closed; then drives the dialogs act opens.
void runStipendo(const std::function<void(CStartDlg&)>& act, std::vector<ModalDriver::Action> then = {}) {
  CStipendoApp app;
  ModalDriver::whenModal([&](QWidget* modal) {
    if (auto* dlg = qobject_cast<CStartDlg*>(modal)) act(*dlg);
    modal->close();
  });
  for (ModalDriver::Action& action : then) ModalDriver::whenModal(std::move(action));
  EXPECT_FALSE(app.InitInstance());
}

// A kept password logs in at start, a refused one leaves its sentence in the status line and no box; at
// either scale the line shows a whole sentence, and a longer one also in a box.
TEST_F(ShellTest, AKeptPasswordLogsInAtStartAndTheStatusLineShowsTheWholeSentence) {
  const double saved = platform::uiScale();
  for (const double scale : {1.0, 2.0}) {
    const bool right = scale == 1.0;
    keepPassword(wire::kAppStipendo, QStringLiteral("clerk"), QLatin1String(right ? "clerk1" : "wrong"));
    platform::setUiScale(scale);
    runStipendo([&](CStartDlg& dlg) {
      EXPECT_EQ(dlg.Status(), right ? "Logged in as clerk" : "The user name or password is wrong.");
      EXPECT_EQ(dlg.m_bConnected, right);
      EXPECT_TRUE(MessageBoxScript::shown().empty()) << "a box at start, scale " << scale;
      for (const char* sentence : {"The user name or password is wrong.",
                                   "Too many failed log-ins for a-twenty-char-name; try again in 15 minutes.",
                                   "Cannot reach the store server at bookstore-server.campus.example.edu:8765."}) {
        dlg.SetStatus(sentence);
        EXPECT_TRUE(statusShownWhole(dlg)) << sentence << " at scale " << scale;
      }
      const QString tooLong = QStringLiteral("The store server said more than fits. ").repeated(12);
      MessageBoxScript::arm(platform::IDOK);
      dlg.SetStatus(tooLong);
      ASSERT_EQ(MessageBoxScript::shown().size(), 1u) << "scale " << scale;
      EXPECT_EQ(MessageBoxScript::shown().back().text, tooLong);
    });
    MessageBoxScript::begin();
  }
  platform::setUiScale(saved);
}

// The log-in dialog keeps asking while the password is empty; a password not kept never reaches the profile.
TEST_F(ShellTest, TheButtonsLogInOnRequestAndTheFeatureOpensOnlyWhenConnected) {
  bool lookupOpened = false;
  MessageBoxScript::arm(platform::IDOK);
  runStipendo(
      [](CStartDlg& dlg) {
        EXPECT_FALSE(dlg.m_bConnected) << "connected before the clerk asked";
        testsupport::clickControl(&dlg, CStartDlg::IDC_FEATURE);  // log-in cancelled: nothing opens
        EXPECT_EQ(dlg.Status(), QStringLiteral("Enter Password"));
        testsupport::clickControl(&dlg, CStartDlg::IDC_FEATURE);  // logged in, then the lookup
        EXPECT_EQ(dlg.Status(), QStringLiteral("Logged in as clerk"));
        EXPECT_TRUE(platform::Profile::readString(QStringLiteral("Stipendo"), QStringLiteral("Password")).isEmpty());
        testsupport::clickControl(&dlg, CStartDlg::IDC_CONFIGURE);  // cancelled: still connected
        EXPECT_TRUE(dlg.m_bConnected);
        testsupport::clickControl(&dlg, CStartDlg::IDC_CONFIGURE);  // a wrong password disconnects
        EXPECT_FALSE(dlg.m_bConnected);
      },
      {cancel,
       [](QWidget* logInDialog) {
         testsupport::typeInto(logInDialog, CLogInDlg::IDC_USER, QStringLiteral("clerk"));
         testsupport::clickControl(logInDialog, platform::IDOK);  // no password: an information box
         EXPECT_TRUE(logInDialog->isVisible());
         logIn(logInDialog, "clerk", "clerk1");
       },
       [&](QWidget* lookup) {
         lookupOpened = lookup->windowTitle() == QStringLiteral("Stipendo");
         testsupport::pressKey(lookup, Qt::Key_Escape);
       },
       cancel, [](QWidget* logInDialog) { logIn(logInDialog, "clerk", "nope"); }});
  EXPECT_TRUE(lookupOpened);
  ASSERT_EQ(MessageBoxScript::shown().size(), 1u);
  EXPECT_EQ(MessageBoxScript::shown()[0].icon, platform::MessageIcon::Information);
}

// Each log-in decides anew whether to keep the password; the next offers the user, and the password if kept.
TEST_F(ShellTest, APasswordOutlivesTheProgramOnlyWhenKept) {
  for (int app : {wire::kAppSellin, wire::kAppAdoptra}) {
    const QString section = CGlobalFunctions::GetAppName(app);
    platform::Profile::writeString(section, QStringLiteral("UserName"), QStringLiteral("clerk"));
    platform::Profile::writeString(section, QStringLiteral("Password"), QStringLiteral("left-over"));
  }
  for (const bool keep : {true, false}) {
    runStipendo([](CStartDlg& dlg) { testsupport::clickControl(&dlg, CStartDlg::IDC_CONFIGURE); },
                {[keep](QWidget* logInDialog) { logIn(logInDialog, "clerk", "clerk1", keep); }});
    EXPECT_EQ(CGlobalFunctions::IsPasswordSet(wire::kAppStipendo), keep);
    QString offered;
    ModalDriver::whenModal([&](QWidget* dlg) {
      for (int id : {CLogInDlg::IDC_USER, CLogInDlg::IDC_PASSWORD})
        offered += testsupport::findControl<QLineEdit>(dlg, id)->text() + "|";
      cancel(dlg);
    });
    EXPECT_FALSE(CGlobalFunctions::DoOnLogIn(wire::kAppStipendo));
    EXPECT_EQ(offered, keep ? "clerk|clerk1|" : "clerk||");
    EXPECT_EQ(CGlobalFunctions::IsPasswordSet(wire::kAppStipendo), keep) << "a cancelled log-in changed the password";
  }
  EXPECT_TRUE(CGlobalFunctions::IsPasswordSet(wire::kAppSellin));
  EXPECT_TRUE(CGlobalFunctions::IsPasswordSet(wire::kAppAdoptra));
}

// Nothing is sent without a log-in or a server address; the box says where the address is set.
TEST_F(ShellTest, FillSocketMsgNeedsALogInAndAServer) {
  CSocketMessage msg(wire::kAppStipendo);
  EXPECT_FALSE(CGlobalFunctions::FillSocketMsg(wire::kAppStipendo, msg, nullptr)) << "no log-in yet";
  CTesselConfig::ClearOverrides();
  MessageBoxScript::arm(platform::IDOK);
  EXPECT_FALSE(CGlobalFunctions::FillSocketMsg(wire::kAppStipendo, msg, nullptr));
  ASSERT_EQ(MessageBoxScript::shown().size(), 1u);
  EXPECT_NE(MessageBoxScript::shown()[0].text.indexOf(QStringLiteral("--server")), -1)
      << MessageBoxScript::shown()[0].text.toStdString();
}

// The clerk may look up every store; the manager, restricted, only store 2.
TEST_F(ShellTest, AdoptraLoadsTheLocationsItsUserMayLookUpTrimmedAndASecondLogInReplacesThem) {
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
    modal->close();
  });
  ModalDriver::whenModal([](QWidget* logInDialog) { logIn(logInDialog, "manager", "manager1"); });
  app.InitInstance();
  EXPECT_EQ(firstNames, (QStringList{"Main Floor", "Annex", "Textbooks, Second Floor", "Warehouse", "North Store",
                                     "Library Kiosk", "Downtown Counter"}));
  EXPECT_EQ(secondNames, (QStringList{"North Store", "Library Kiosk"}));
  EXPECT_EQ(app.m_locations.GetSize(), 0) << "the location list outlived the start dialog";
}

const CProgramConstants kSellin{wire::kAppSellin, "Sellin", "Sellin", 1045, 54, 50};

QListWidget* sessionList(QWidget* chooser) {
  return testsupport::findControl<QListWidget>(chooser, CSelectSessionDlg::IDC_SESSIONS);
}

class SellinStartTest : public ShellTest {
 protected:
  // Runs the start dialog with the queued actions; the first one must close it.
  void runStart() {
    CStartDlg dlg(kSellin, start_);
    dlg.runModal();
  }

  // Offers the sessions as FillFromResponse leaves them.
  bool choose(const std::vector<std::pair<int, QString>>& offered) {
    CDataArray<CSLSessionInfo> sessions;
    for (const auto& [id, description] : offered) {
      CSLSessionInfo session;
      session.m_nSessionID = id;
      session.m_strDescription = description;
      sessions.Add(session);
    }
    CStartDlg dlg(kSellin, start_);
    return start_.ChooseSession(dlg, &sessions);
  }

  static void useBuyer(const QString& user, const QString& password) {
    platform::Profile::writeString(QStringLiteral("Sellin"), QStringLiteral("BuyerUser"), user);
    platform::Profile::writeString(QStringLiteral("Sellin"), QStringLiteral("BuyerPass"), password);
  }

  CSocketMessage msg_{wire::kAppSellin};
  CSellinStart start_{msg_};
};

// The feature button connects first (the end-to-end test follows it to the ticket).
TEST_F(SellinStartTest, ACancelledLogInOpensNothingAndACancelledSessionChoiceAsksAgain) {
  useBuyer(QStringLiteral("buyer"), QStringLiteral("buyer1"));
  ModalDriver::whenModal([](QWidget* modal) {
    testsupport::clickControl(modal, CStartDlg::IDC_FEATURE);  // cancelled log-in
    auto* start = qobject_cast<CStartDlg*>(modal);
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->Status(), QStringLiteral("Not Logged In"));
    testsupport::clickControl(modal, CStartDlg::IDC_CONFIGURE);
    EXPECT_TRUE(start->m_bConnected);
    EXPECT_EQ(start->Status(), QStringLiteral("buyer"));
    modal->close();
  });
  ModalDriver::whenModal(cancel);
  ModalDriver::whenModal([](QWidget* logInDialog) { logIn(logInDialog, "buyer", "buyer1"); });
  ModalDriver::whenModal(cancel);  // the session chooser
  ModalDriver::whenModal([](QWidget* logInDialog) { logIn(logInDialog, "buyer", "buyer1"); });
  ModalDriver::whenModal([](QWidget* chooser) {
    // Store 1's open sessions, sorted by their descriptions shown without leading blanks.
    QStringList listed;
    for (int i = 0; i < sessionList(chooser)->count(); ++i) listed << sessionList(chooser)->item(i)->text();
    EXPECT_EQ(listed, (QStringList{"Spring Buyback", "Walk-in Buyback", "Wholesale Only", "Wholesale Only"}));
    EXPECT_EQ(sessionList(chooser)->currentRow(), 0) << "the first session is not selected";
    sessionList(chooser)->setCurrentRow(1);
    testsupport::pressKey(chooser, Qt::Key_Return);
  });
  runStart();
  EXPECT_TRUE(MessageBoxScript::shown().empty());
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
    EXPECT_EQ(qobject_cast<CStartDlg*>(modal)->Status(), QStringLiteral("Not Logged In"));
    modal->close();
  });
  for (int pass = 0; pass < CSellinStart::kMaxLogInPasses; ++pass)
    ModalDriver::whenModal([](QWidget* logInDialog) { logIn(logInDialog, "buyer", "buyer1"); });
  runStart();
  ASSERT_EQ(MessageBoxScript::shown().size(), size_t(CSellinStart::kMaxLogInPasses + 1));
  EXPECT_EQ(MessageBoxScript::shown()[0].text, QStringLiteral("The buyer user name or password is wrong."));
  EXPECT_EQ(MessageBoxScript::shown()[0].icon, platform::MessageIcon::Stop);
  EXPECT_NE(MessageBoxScript::shown().back().text.indexOf(QStringLiteral("Configure")), -1);
}

// A row chooses the record it shows, wherever the sorting put it.
TEST_F(SellinStartTest, EachRowChoosesItsOwnRecordAndNothingChosenKeepsTheSession) {
  const auto doubleClickFall = [](QWidget* chooser) {
    QListWidget* list = sessionList(chooser);
    const QPoint fall = list->visualItemRect(list->item(0)).center();
    // A view takes a double-click only on the item its press landed on.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, fall);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, fall);
  };
  // A Ctrl+click unselects the current row: OK then chooses nothing and the chooser stays open.
  const auto okWithNothingSelected = [](QWidget* chooser) {
    QListWidget* list = sessionList(chooser);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list->visualItemRect(list->item(0)).center());
    ASSERT_TRUE(list->selectedItems().isEmpty() && list->currentItem());
    testsupport::pressKey(chooser, Qt::Key_Return);
    EXPECT_TRUE(chooser->isVisible()) << "OK with nothing selected ended the chooser";
    cancel(chooser);
  };
  const struct {
    std::vector<std::pair<int, QString>> offered;
    ModalDriver::Action act;
    bool chosen;
    int session;
  } cases[] = {
      {{{1, "Spring"}, {2, "Fall"}, {3, "Summer"}}, doubleClickFall, true, 2},
      {{{5, "Only"}}, cancel, false, 2},  // a single session is still offered
      {{{1, "Spring"}}, okWithNothingSelected, false, 2},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    ModalDriver::whenModal(cases[i].act);
    EXPECT_EQ(choose(cases[i].offered), cases[i].chosen) << "case " << i;
    EXPECT_EQ(start_.m_session.m_nSessionID, cases[i].session) << "case " << i;
  }
}

}  // namespace
