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
using stipendo_test::accountLines;
using stipendo_test::joined;
using stipendo_test::resultList;
using stipendo_test::shownLines;
using stipendo_test::waitUntil;
using testsupport::clickControl;
using testsupport::ModalDriver;
using testsupport::pressKey;
using testsupport::replaceText;
using testsupport::typeInto;

// The demo store's students, ordered by start date as the server sends them.
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

std::string joinedLines(const CStipendoDlg& dlg) {
  std::string all;
  for (const std::string& line : shownLines(&dlg)) all += "\n  " + line;
  return all.empty() ? " (none)" : all;
}

bool focusInId(const CStipendoDlg& dlg) { return dlg.focusWidget() == dlg.control(CStipendoDlg::IDC_STUDENT_ID); }

// Nothing listed, the prompt asks for an ID, the button reads "Enter".
void expectEntryState(const CStipendoDlg& dlg, const std::string& when) {
  const QTreeWidget* list = resultList(&dlg);
  ASSERT_NE(list, nullptr) << when << ": the dialog has no result list";
  EXPECT_FALSE(dlg.IsShowing()) << when << ": still in the result state";
  EXPECT_EQ(text(dlg, CStipendoDlg::IDC_ENTER), "Enter") << when << ": wrong button caption";
  EXPECT_FALSE(list->isVisible()) << when << ": the list is still shown";
  EXPECT_TRUE(dlg.control(CStipendoDlg::IDC_PROMPT)->isVisible()) << when << ": the prompt is hidden";
  EXPECT_EQ(text(dlg, CStipendoDlg::IDC_PROMPT), "Scan or Enter Student ID") << when << ": wrong prompt";
  EXPECT_TRUE(dlg.Records().IsEmpty()) << when << ": " << dlg.Records().GetSize() << " record(s) kept";
}

// The lines listed, the prompt hidden, the button reads "Clear".
void expectResult(const CStipendoDlg& dlg, const std::vector<std::string>& lines, const std::string& when) {
  const QTreeWidget* list = resultList(&dlg);
  ASSERT_NE(list, nullptr) << when << ": the dialog has no result list";
  EXPECT_TRUE(dlg.IsShowing()) << when << ": not in the result state";
  EXPECT_EQ(text(dlg, CStipendoDlg::IDC_ENTER), "Clear") << when << ": wrong button caption";
  EXPECT_TRUE(list->isVisible()) << when << ": the list is hidden";
  EXPECT_FALSE(dlg.control(CStipendoDlg::IDC_PROMPT)->isVisible()) << when << ": the prompt is still shown";
  EXPECT_EQ(shownLines(&dlg), lines) << when << ": listed" << joinedLines(dlg);
  EXPECT_EQ(std::size_t(dlg.Records().GetSize()) * 7, lines.size()) << when << ": records and lines disagree";
}

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
    m_server.stop();
    CTesselConfig::ClearOverrides();
    QtFixture::TearDown();
  }

  // Runs the dialog modally; steps act on it once it shows, then its close box
  // ends it.
  void runDialog(const std::function<void(CStipendoDlg&)>& steps) {
    bool ran = false;
    ModalDriver::whenModal([&](QWidget* modal) {
      ran = true;
      if (auto* dlg = qobject_cast<CStipendoDlg*>(modal))
        steps(*dlg);
      else
        ADD_FAILURE() << "the modal widget is not the lookup dialog: " << modal->windowTitle().toStdString();
      modal->close();
    });
    CStipendoDlg dlg;
    EXPECT_EQ(dlg.runModal(), platform::IDCANCEL) << "the close box did not end the lookup dialog";
    EXPECT_TRUE(ran) << "the lookup dialog never came up for the test's steps";
  }

  // Types the ID over whatever is in the edit and clicks the button.
  static void typeAndEnter(CStipendoDlg& dlg, const QString& id) {
    replaceText(&dlg, CStipendoDlg::IDC_STUDENT_ID, id);
    clickControl(&dlg, CStipendoDlg::IDC_ENTER);
  }

  // Posts a scanned code and waits until its handler has run.
  void scan(CStipendoDlg& dlg, const QString& code, const std::function<bool()>& handled) {
    dlg.postMessage(platform::WM_SCAN_DATA, code);
    ASSERT_TRUE(waitUntil(handled)) << "the scan of \"" << code.toStdString() << "\" was not handled; listed"
                                    << joinedLines(dlg);
  }

  int exchanges() const { return m_server.exchangeCount(); }

  testsupport::DemoServer m_server;
  std::unique_ptr<CStipendoApp> m_app;
};

TEST_F(StipendoDlgTest, EnterLooksUpAndClearGoesBackToEntry) {
  runDialog([&](CStipendoDlg& dlg) {
    expectEntryState(dlg, "at start");
    EXPECT_FALSE(dlg.control(CStipendoDlg::IDC_LIST_AREA)->isVisible()) << "the placeholder 1008 is shown";

    clickControl(&dlg, CStipendoDlg::IDC_ENTER);
    EXPECT_EQ(exchanges(), 0) << "Enter with no ID sent a query";
    EXPECT_TRUE(MessageBoxScript::shown().empty()) << "Enter with no ID showed a box";
    expectEntryState(dlg, "after Enter with no ID");

    // Return in the ID edit is the default button.
    typeInto(&dlg, CStipendoDlg::IDC_STUDENT_ID, "S100200");
    pressKey(&dlg, Qt::Key_Return);
    expectResult(dlg, kUpperS100200, "after Return on S100200");
    EXPECT_EQ(exchanges(), 1) << "one lookup should be one exchange";
    EXPECT_TRUE(focusInId(dlg)) << "the focus is not in the ID edit after the lookup";

    clickControl(&dlg, CStipendoDlg::IDC_ENTER);
    expectEntryState(dlg, "after Clear");
    EXPECT_EQ(text(dlg, CStipendoDlg::IDC_STUDENT_ID), "") << "Clear left the ID in the edit";
    EXPECT_TRUE(focusInId(dlg)) << "the focus is not back in the ID edit after Clear";
    EXPECT_EQ(exchanges(), 1) << "Clear sent a query";

    // The first key typed over a result leaves it at once, before any Enter.
    typeAndEnter(dlg, "S100200");
    expectResult(dlg, kUpperS100200, "after looking S100200 up again");
    typeInto(&dlg, CStipendoDlg::IDC_STUDENT_ID, "9");
    expectEntryState(dlg, "after typing one character over the result");
    EXPECT_EQ(text(dlg, CStipendoDlg::IDC_STUDENT_ID), "S1002009") << "the typed character went elsewhere";
    EXPECT_EQ(exchanges(), 2) << "typing sent a query";
    EXPECT_TRUE(MessageBoxScript::shown().empty()) << "a box came up: "
                                                    << MessageBoxScript::shown().front().text.toStdString();
  });
}

TEST_F(StipendoDlgTest, ScanPutsTheCodeInAndShowsThatStudent) {
  runDialog([&](CStipendoDlg& dlg) {
    typeAndEnter(dlg, "s100200");
    expectResult(dlg, kLowerS100200, "after s100200");

    scan(dlg, "S100300", [&] { return shownLines(&dlg).size() == kS100300.size(); });
    EXPECT_EQ(text(dlg, CStipendoDlg::IDC_STUDENT_ID), "S100300") << "the scanned code is not in the ID edit";
    expectResult(dlg, kS100300, "after scanning S100300 over another result");
    EXPECT_TRUE(focusInId(dlg)) << "the focus is not in the ID edit after the scan";

    // The same code again leaves the ID text as it is; it is still looked up.
    const int before = exchanges();
    scan(dlg, "S100300", [&] { return exchanges() == before + 1; });
    expectResult(dlg, kS100300, "after scanning the shown ID again");

    // An empty code only empties the display.
    scan(dlg, QString(), [&] { return text(dlg, CStipendoDlg::IDC_STUDENT_ID).empty(); });
    expectEntryState(dlg, "after an empty scan");
    EXPECT_EQ(exchanges(), before + 1) << "an empty scan sent a query";
    EXPECT_TRUE(MessageBoxScript::shown().empty()) << "a box came up: "
                                                    << MessageBoxScript::shown().front().text.toStdString();
  });
}

// Upper- and lower-case S100200 are different students of the demo store;
// amounts show as money only where the line carries the money flag.
TEST_F(StipendoDlgTest, SevenLinesPerAccountAndIdsKeepTheirCase) {
  runDialog([&](CStipendoDlg& dlg) {
    const struct {
      const char* id;
      const std::vector<std::string>& lines;
    } students[] = {{"S100200", kUpperS100200}, {"s100200", kLowerS100200}, {"S100300", kS100300}};
    for (const auto& student : students) {
      typeAndEnter(dlg, student.id);
      expectResult(dlg, student.lines, std::string("student ") + student.id);
    }
  });
}

TEST_F(StipendoDlgTest, ListSpansFromBelowTheIdToAboveTheButton) {
  runDialog([&](CStipendoDlg& dlg) {
    const QRect area = dlg.controlScreenRect(CStipendoDlg::IDC_LIST_AREA);
    const QRect idEdit = dlg.controlScreenRect(CStipendoDlg::IDC_STUDENT_ID);
    const QRect button = dlg.controlScreenRect(CStipendoDlg::IDC_ENTER);
    const QTreeWidget* list = resultList(&dlg);
    ASSERT_NE(list, nullptr) << "no result list";
    auto expectPlaced = [&](const std::string& when) {
      const QRect placed(list->mapToGlobal(QPoint(0, 0)), list->size());
      // Right and bottom edges exclusive: x + width, y + height.
      EXPECT_EQ(placed.x(), area.x()) << when << ": left edge moved from the placeholder's";
      EXPECT_EQ(placed.x() + placed.width(), area.x() + area.width())
          << when << ": right edge moved from the placeholder's";
      EXPECT_EQ(placed.y(), idEdit.y() + idEdit.height() + 6) << when << ": top not 6 pixels below the ID edit";
      EXPECT_EQ(placed.y() + placed.height(), button.y() - 6) << when << ": bottom not 6 pixels above the button";
    };
    typeAndEnter(dlg, "S100300");
    expectResult(dlg, kS100300, "first lookup");
    expectPlaced("first lookup");
    clickControl(&dlg, CStipendoDlg::IDC_ENTER);
    typeAndEnter(dlg, "S100200");
    expectResult(dlg, kUpperS100200, "lookup after Clear");
    expectPlaced("lookup after Clear");
  });
}

TEST_F(StipendoDlgTest, RefusedLookupEmptiesTheResultAndShowsTheServersSentence) {
  runDialog([&](CStipendoDlg& dlg) {
    const std::vector<MessageBoxScript::ShownBox>& boxes = MessageBoxScript::shown();
    auto expectBox = [&](std::size_t count, const std::string& sentence) {
      ASSERT_EQ(boxes.size(), count) << "expected a box with \"" << sentence << "\"";
      const MessageBoxScript::ShownBox& box = boxes.back();
      EXPECT_EQ(box.text.toStdString(), sentence) << "not the server's sentence";
      EXPECT_EQ(box.icon, platform::MessageIcon::Stop) << "the box for \"" << sentence << "\" has no stop icon";
      EXPECT_EQ(box.buttons, platform::MessageButtons::Ok) << "the box for \"" << sentence << "\" is not OK only";
    };

    typeAndEnter(dlg, "S100200");
    expectResult(dlg, kUpperS100200, "before the typed refusal");
    MessageBoxScript::arm(platform::IDOK);
    typeAndEnter(dlg, "S999999");
    expectBox(1, "No student with ID S999999.");
    expectEntryState(dlg, "after the refused S999999");
    EXPECT_TRUE(focusInId(dlg)) << "the focus is not in the ID edit after the refusal";
    EXPECT_EQ(text(dlg, CStipendoDlg::IDC_STUDENT_ID), "S999999") << "the refused ID is gone from the edit";

    // LookUp itself drops what is shown before it asks the server.
    typeAndEnter(dlg, "S100200");
    expectResult(dlg, kUpperS100200, "before LookUp of S100100");
    MessageBoxScript::arm(platform::IDOK);
    EXPECT_FALSE(dlg.LookUp("S100100")) << "LookUp of a student without accounts reported success";
    expectBox(2, "Student S100100 has no aid accounts.");
    EXPECT_TRUE(dlg.Records().IsEmpty()) << "the earlier records outlived the refusal";
    EXPECT_FALSE(resultList(&dlg)->isVisible()) << "the earlier result is still listed";
    EXPECT_TRUE(dlg.control(CStipendoDlg::IDC_PROMPT)->isVisible()) << "the prompt is hidden after the refusal";
    EXPECT_TRUE(focusInId(dlg)) << "the focus is not in the ID edit after LookUp failed";
  });
}

TEST_F(StipendoDlgTest, StoppedServerIsReportedAndNothingStaysListed) {
  runDialog([&](CStipendoDlg& dlg) {
    typeAndEnter(dlg, "S100200");
    expectResult(dlg, kUpperS100200, "before the server stopped");

    m_server.stop();
    MessageBoxScript::arm(platform::IDOK);
    scan(dlg, "S100300", [] { return !MessageBoxScript::shown().empty(); });
    ASSERT_EQ(MessageBoxScript::shown().size(), 1u) << "expected one box";
    const MessageBoxScript::ShownBox& box = MessageBoxScript::shown().front();
    EXPECT_EQ(box.text.toStdString(), "Cannot reach the store server at 127.0.0.1:" + std::to_string(m_server.port()) + ".")
        << "not the unreachable-server sentence";
    EXPECT_EQ(box.icon, platform::MessageIcon::Stop) << "the box has no stop icon";
    expectEntryState(dlg, "after the failed exchange");
    EXPECT_TRUE(focusInId(dlg)) << "the focus is not in the ID edit after the failed exchange";
  });
}

}  // namespace
