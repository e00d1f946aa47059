// The aid lookup dialog, a real widget, against the store server running in
// this process on the demo store: its two states, the lines it lists, where
// the list sits, and what a refused or failed lookup leaves behind.
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "platform/message_box.h"
#include "stipendo/stipendo_app.h"
#include "stipendo/stipendo_dlg.h"
#include "stipendo_test_support.h"
#include "tessel/tessel_config.h"
#include "tests/support/demo_server.h"
#include "tests/support/qt_fixture.h"

namespace {

using platform::MessageBoxScript;
using stipendo_test::resultList;
using stipendo_test::shownLines;
using stipendo_test::waitUntil;
using testsupport::clickControl;
using testsupport::ModalDriver;
using testsupport::replaceText;

// The lines of the demo store's accounts, in the order the server sends them.
std::vector<std::string> accountLines(const std::string& agency, const std::string& start, const std::string& expire,
                                      const std::string& balance, const std::string& limit,
                                      const std::string& available) {
  return {"Agency Number:|" + agency,  "Start Date:|" + start,   "Expire Date:|" + expire,
          "Total Balance:|" + balance, "Credit Limit:|" + limit, "Amount Available:|" + available, "|"};
}

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> accounts) {
  std::vector<std::string> lines;
  for (const auto& account : accounts) lines.insert(lines.end(), account.begin(), account.end());
  return lines;
}

const std::vector<std::string> kUpperS100200 =
    accountLines("ST-PELL", "2024-08-15", "2025-05-31", "$12.50", "$500.00", "$487.50");
const std::vector<std::string> kLowerS100200 =
    joined({accountLines("BR-SP-2024", "2024-01-10", "2024-12-20", "$0.00", "$300.00", "$300.00"),
            accountLines("VA-0001", "2024-08-01", "2025-07-31", "$75.05", "$75.05", "$0.00")});
const std::vector<std::string> kS100300 =
    joined({accountLines("VA-0001", "2023-08-20", "2024-08-19", "$123.45", "$1000.00", "$876.55"),
            accountLines("TRIBAL-77", "2024-01-05", "2024-12-31", "-$25.00", "$200.00", "$225.00"),
            accountLines("GLTF-5", "2024-09-01", "2025-06-30", "$600.00", "$500.00", "-$100.00")});

std::string text(const CStipendoDlg& dlg, int id) { return dlg.controlText(id).toStdString(); }

bool focusInId(const CStipendoDlg& dlg) { return dlg.focusWidget() == dlg.control(CStipendoDlg::IDC_STUDENT_ID); }

// Entry state (no lines): nothing listed, the prompt asks for an ID, the
// button reads "Enter". Result state: the lines listed, the prompt hidden, the
// button reads "Clear".
void expectState(const CStipendoDlg& dlg, const std::vector<std::string>& lines, const std::string& when) {
  const bool result = !lines.empty();
  ASSERT_NE(resultList(&dlg), nullptr) << when;
  EXPECT_EQ(dlg.IsShowing(), result) << when;
  EXPECT_EQ(text(dlg, CStipendoDlg::IDC_ENTER), result ? "Clear" : "Enter") << when;
  EXPECT_EQ(resultList(&dlg)->isVisible(), result) << when;
  EXPECT_EQ(dlg.control(CStipendoDlg::IDC_PROMPT)->isVisible(), !result) << when;
  EXPECT_EQ(text(dlg, CStipendoDlg::IDC_PROMPT), "Scan or Enter Student ID") << when;
  if (result) {
    EXPECT_EQ(shownLines(&dlg), lines) << when;
  }
  EXPECT_EQ(std::size_t(dlg.Records().GetSize()) * 7, lines.size()) << when << ": records and lines disagree";
}

// Records the server's exchange count at each paint of a widget.
class PaintWatch : public QObject {
 public:
  PaintWatch(QWidget* widget, const testsupport::DemoServer& server) : server_(server) {
    widget->installEventFilter(this);
  }
  QList<int> counts;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) counts << server_.exchangeCount();
    return false;
  }

 private:
  const testsupport::DemoServer& server_;
};

class StipendoDlgTest : public testsupport::QtFixture {
 protected:
  void SetUp() override {
    QtFixture::SetUp();
    CTesselConfig::ClearOverrides();  // no scanner: scans come as posted messages
    ASSERT_TRUE(m_server.started());
    m_app = std::make_unique<CStipendoApp>();
    m_app->m_socketMsg.SetServer(m_server.url());
    m_app->m_socketMsg.SetCredentials(QStringLiteral("clerk"), QStringLiteral("clerk1"));
  }

  void TearDown() override {
    m_app.reset();
    CTesselConfig::ClearOverrides();
    QtFixture::TearDown();
  }

  // Runs the dialog modally; steps act on it once it shows, then its close box ends it.
  void runDialog(const std::function<void(CStipendoDlg&)>& steps) {
    ModalDriver::whenModal([&](QWidget* modal) {
      if (auto* dlg = qobject_cast<CStipendoDlg*>(modal)) steps(*dlg);
      modal->close();
    });
    CStipendoDlg dlg;
    EXPECT_EQ(dlg.runModal(), platform::IDCANCEL) << "the close box did not end the lookup dialog";
  }

  static void typeAndEnter(CStipendoDlg& dlg, const QString& id) {
    replaceText(&dlg, CStipendoDlg::IDC_STUDENT_ID, id);
    clickControl(&dlg, CStipendoDlg::IDC_ENTER);
  }

  // Posts a scanned code and waits until the exchange it starts is answered.
  void scan(CStipendoDlg& dlg, const QString& code) {
    const int before = exchanges();
    dlg.postMessage(platform::WM_SCAN_DATA, code);
    ASSERT_TRUE(waitUntil([&] { return exchanges() > before; })) << "no lookup for the scan of " << code.toStdString();
    QCoreApplication::sendPostedEvents();
  }

  void expectLastBox(std::size_t count, const std::string& sentence) {
    ASSERT_EQ(MessageBoxScript::shown().size(), count) << "expected a box with \"" << sentence << "\"";
    const MessageBoxScript::ShownBox& box = MessageBoxScript::shown().back();
    EXPECT_EQ(box.text.toStdString(), sentence);
    EXPECT_EQ(box.icon, platform::MessageIcon::Stop) << sentence;
    EXPECT_EQ(box.buttons, platform::MessageButtons::Ok) << sentence;
  }

  int exchanges() const { return m_server.exchangeCount(); }

  testsupport::DemoServer m_server;
  std::unique_ptr<CStipendoApp> m_app;
};

TEST_F(StipendoDlgTest, EnterLooksUpClearGoesBackAndTypingLeavesTheResult) {
  runDialog([&](CStipendoDlg& dlg) {
    EXPECT_FALSE(dlg.control(CStipendoDlg::IDC_LIST_AREA)->isVisible()) << "the placeholder 1008 is shown";
    clickControl(&dlg, CStipendoDlg::IDC_ENTER);
    expectState(dlg, {}, "after Enter with no ID");
    EXPECT_EQ(exchanges(), 0) << "Enter with no ID sent a query";

    testsupport::typeInto(&dlg, CStipendoDlg::IDC_STUDENT_ID, "S100200");
    testsupport::pressKey(&dlg, Qt::Key_Return);  // the default button
    expectState(dlg, kUpperS100200, "after Return on S100200");
    clickControl(&dlg, CStipendoDlg::IDC_ENTER);
    expectState(dlg, {}, "after Clear");
    EXPECT_EQ(text(dlg, CStipendoDlg::IDC_STUDENT_ID), "") << "Clear left the ID in the edit";
    EXPECT_TRUE(focusInId(dlg)) << "the focus is not back in the ID edit after Clear";

    // The first key typed over a result leaves it at once, before any Enter.
    typeAndEnter(dlg, "S100200");
    testsupport::typeInto(&dlg, CStipendoDlg::IDC_STUDENT_ID, "9");
    expectState(dlg, {}, "after typing one character over the result");
    EXPECT_EQ(text(dlg, CStipendoDlg::IDC_STUDENT_ID), "S1002009");
    EXPECT_EQ(exchanges(), 2) << "one exchange per lookup, none for Clear or typing";
  });
}

// Upper- and lower-case S100200 are different students; blanks around a typed
// ID are no part of it; an ID too long is refused without an exchange.
TEST_F(StipendoDlgTest, EachTypedIdListsItsAccountsOrItsRefusal) {
  runDialog([&](CStipendoDlg& dlg) {
    const struct {
      const char* typed;
      std::vector<std::string> lines;
      const char* refusal;
      int exchanges;
    } cases[] = {
        {"S100200", kUpperS100200, nullptr, 1},
        {"  s100200 ", kLowerS100200, nullptr, 2},
        {"S100300", kS100300, nullptr, 3},
        {"S999999", {}, "No student with ID S999999.", 4},
        {"S1234567890123456789", {}, "No student with ID S1234567890123456789.", 5},
        {"S12345678901234567890", {}, "A student ID has at most 20 characters.", 5},
    };
    std::size_t boxes = 0;
    for (const auto& c : cases) {
      if (c.refusal) MessageBoxScript::arm(platform::IDOK);
      typeAndEnter(dlg, c.typed);
      if (c.refusal) expectLastBox(++boxes, c.refusal);
      expectState(dlg, c.lines, c.typed);
      EXPECT_EQ(exchanges(), c.exchanges) << c.typed;
      EXPECT_TRUE(focusInId(dlg)) << c.typed << ": the focus is not in the ID edit";
    }
  });
}

TEST_F(StipendoDlgTest, AScanReplacesTheIdAndLooksItUpAgainEvenWhenItIsTheSame) {
  runDialog([&](CStipendoDlg& dlg) {
    typeAndEnter(dlg, "s100200");
    ASSERT_NO_FATAL_FAILURE(scan(dlg, "S100300"));
    EXPECT_EQ(text(dlg, CStipendoDlg::IDC_STUDENT_ID), "S100300");
    expectState(dlg, kS100300, "after scanning S100300 over another result");
    ASSERT_NO_FATAL_FAILURE(scan(dlg, "S100300"));
    expectState(dlg, kS100300, "after scanning the shown ID again");
  });
}

// While the exchange blocks, the last student's accounts must be off the screen.
TEST_F(StipendoDlgTest, WhatALookupClearsIsPaintedBeforeItsExchange) {
  runDialog([&](CStipendoDlg& dlg) {
    typeAndEnter(dlg, "S100300");
    const PaintWatch prompt(dlg.control(CStipendoDlg::IDC_PROMPT), m_server);
    const int before = exchanges();
    ASSERT_NO_FATAL_FAILURE(scan(dlg, "S100200"));
    EXPECT_TRUE(prompt.counts.contains(before)) << "the prompt was painted only after the exchange";
    expectState(dlg, kUpperS100200, "after the scan");
  });
}

TEST_F(StipendoDlgTest, ListSpansFromBelowTheIdToAboveTheButton) {
  runDialog([&](CStipendoDlg& dlg) {
    const QRect area = dlg.controlScreenRect(CStipendoDlg::IDC_LIST_AREA);
    const QRect idEdit = dlg.controlScreenRect(CStipendoDlg::IDC_STUDENT_ID);
    const QRect button = dlg.controlScreenRect(CStipendoDlg::IDC_ENTER);
    for (const char* id : {"S100300", "S100200"}) {
      typeAndEnter(dlg, id);
      const QTreeWidget* list = resultList(&dlg);
      const QRect placed(list->mapToGlobal(QPoint(0, 0)), list->size());
      EXPECT_EQ(placed.left(), area.left()) << id;
      EXPECT_EQ(placed.right(), area.right()) << id;
      EXPECT_EQ(placed.top(), idEdit.bottom() + 1 + 6) << id << ": not 6 pixels below the ID edit";
      EXPECT_EQ(placed.bottom() + 1, button.top() - 6) << id << ": not 6 pixels above the button";
      clickControl(&dlg, CStipendoDlg::IDC_ENTER);
    }
  });
}

TEST_F(StipendoDlgTest, ARefusalOrAStoppedServerLeavesNothingListed) {
  runDialog([&](CStipendoDlg& dlg) {
    typeAndEnter(dlg, "S100200");
    MessageBoxScript::arm(platform::IDOK);
    EXPECT_FALSE(dlg.LookUp("S100100")) << "LookUp of a student without accounts reported success";
    expectLastBox(1, "Student S100100 has no aid accounts.");
    EXPECT_TRUE(dlg.Records().IsEmpty() && !resultList(&dlg)->isVisible()) << "the earlier result outlived it";

    typeAndEnter(dlg, "S100200");
    m_server.stop();
    MessageBoxScript::arm(platform::IDOK);
    typeAndEnter(dlg, "S100300");
    expectLastBox(2, "Cannot reach the store server at 127.0.0.1:" + std::to_string(m_server.port()) + ".");
    expectState(dlg, {}, "after the failed exchange");
    EXPECT_EQ(text(dlg, CStipendoDlg::IDC_STUDENT_ID), "S100300") << "the refused ID is gone from the edit";
  });
}

}  // namespace
