// Stipendo on the demo server: the aid lookup dialog, and its command line with storescan on a pipe.
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <array>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/message_box.h"
#include "shell/shell_app.h"
#include "stipendo/stipendo_app.h"
#include "stipendo/stipendo_dlg.h"
#include "tests/support/app_fixture.h"

namespace {

using platform::MessageBoxScript;
using testsupport::clickControl;
using testsupport::replaceText;

std::vector<std::string> shownLines(const QWidget* dlg) { return testsupport::listRows(dlg, CStipendoDlg::IDC_LIST); }

// Per account, in the server's order: agency, start, expiry, balance, limit, amount available.
std::vector<std::string> accountLines(std::initializer_list<std::array<std::string, 6>> accounts) {
  static const char* const labels[] = {"Agency Number:|", "Start Date:|",   "Expire Date:|",
                                       "Total Balance:|", "Credit Limit:|", "Amount Available:|"};
  std::vector<std::string> lines;
  for (const auto& account : accounts) {
    for (std::size_t i = 0; i < account.size(); ++i) lines.push_back(labels[i] + account[i]);
    lines.push_back("|");
  }
  return lines;
}

const std::vector<std::string> kUpperS100200 =
    accountLines({{"ST-PELL", "2024-08-15", "2025-05-31", "$12.50", "$500.00", "$487.50"}});
const std::vector<std::string> kLowerS100200 =
    accountLines({{"BR-SP-2024", "2024-01-10", "2024-12-20", "$0.00", "$300.00", "$300.00"},
                  {"VA-0001", "2024-08-01", "2025-07-31", "$75.05", "$75.05", "$0.00"}});
const std::vector<std::string> kS100300 =
    accountLines({{"VA-0001", "2023-08-20", "2024-08-19", "$123.45", "$1000.00", "$876.55"},
                  {"TRIBAL-77", "2024-01-05", "2024-12-31", "-$25.00", "$200.00", "$225.00"},
                  {"GLTF-5", "2024-09-01", "2025-06-30", "$600.00", "$500.00", "-$100.00"}});

std::string text(const CStipendoDlg& dlg, int id) { return dlg.controlText(id).toStdString(); }

bool focusInId(const CStipendoDlg& dlg) { return dlg.focusWidget() == dlg.control(CStipendoDlg::IDC_STUDENT_ID); }

// No lines: the prompt shows and the button reads "Enter"; else the lines listed and the button reads "Clear".
void expectState(const CStipendoDlg& dlg, const std::vector<std::string>& lines, const std::string& when) {
  const bool result = !lines.empty();
  EXPECT_EQ(dlg.IsShowing(), result) << when;
  EXPECT_EQ(text(dlg, CStipendoDlg::IDC_ENTER), result ? "Clear" : "Enter") << when;
  const auto* list = testsupport::findControl<QWidget>(&dlg, CStipendoDlg::IDC_LIST);
  ASSERT_NE(list, nullptr) << when;
  EXPECT_EQ(list->isVisible(), result) << when;
  EXPECT_EQ(dlg.control(CStipendoDlg::IDC_PROMPT)->isVisible(), !result) << when;
  if (result) {
    EXPECT_EQ(shownLines(&dlg), lines) << when;
  }
}

// Notes whether a widget was painted (the prompt painted during a lookup came before its answer).
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(QWidget* widget) { widget->installEventFilter(this); }
  bool painted = false;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    painted = painted || event->type() == QEvent::Paint;
    return false;
  }
};

class StipendoTest : public testsupport::AppFixture<CStipendoApp, CStipendoDlg> {
 protected:
  StipendoTest() : AppFixture("clerk", "clerk1") {}

  static void typeAndEnter(CStipendoDlg& dlg, const QString& id) {
    replaceText(&dlg, CStipendoDlg::IDC_STUDENT_ID, id);
    clickControl(&dlg, CStipendoDlg::IDC_ENTER);
  }

  // Posts a scanned code as the scanner does and delivers it.
  static void scan(CStipendoDlg& dlg, const QString& code) {
    dlg.postMessage(platform::WM_SCAN_DATA, code);
    QCoreApplication::sendPostedEvents();
  }

  void expectLastBox(std::size_t count, const std::string& sentence) {
    ASSERT_EQ(MessageBoxScript::shown().size(), count) << "expected a box with \"" << sentence << "\"";
    const MessageBoxScript::ShownBox& box = MessageBoxScript::shown().back();
    EXPECT_EQ(box.text.toStdString(), sentence);
    EXPECT_EQ(box.icon, platform::MessageIcon::Stop) << sentence;
    EXPECT_EQ(box.buttons, platform::MessageButtons::Ok) << sentence;
  }
};

// Enter with no ID, Clear and typing look nothing up (an unarmed box would fail); a scan clears the last
// accounts before its exchange blocks, and a scan of the ID shown looks it up again.
TEST_F(StipendoTest, EnterClearTypingAndScansMoveBetweenTheTwoStates) {
  runDialog([&](CStipendoDlg& dlg) {
    EXPECT_FALSE(dlg.control(CStipendoDlg::IDC_LIST_AREA)->isVisible()) << "the placeholder 1008 is shown";
    clickControl(&dlg, CStipendoDlg::IDC_ENTER);
    expectState(dlg, {}, "after Enter with no ID");

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

    typeAndEnter(dlg, "s100200");
    const PaintWatch prompt(dlg.control(CStipendoDlg::IDC_PROMPT));
    scan(dlg, "S100300");
    EXPECT_TRUE(prompt.painted) << "the prompt was not painted before the answer came";
    EXPECT_EQ(text(dlg, CStipendoDlg::IDC_STUDENT_ID), "S100300");
    expectState(dlg, kS100300, "after scanning S100300 over another result");
    m_server.stop();
    MessageBoxScript::arm(platform::IDOK);
    scan(dlg, "S100300");
    expectLastBox(1, unreachable());
    expectState(dlg, {}, "after scanning the shown ID again");
  });
}

// Upper- and lower-case IDs differ, surrounding blanks do not count; a refusal leaves the ID in the edit.
// An ID too long is refused before any exchange (the server is stopped by then).
TEST_F(StipendoTest, EachTypedIdListsItsAccountsOrItsRefusal) {
  runDialog([&](CStipendoDlg& dlg) {
    const struct {
      const char* typed;
      std::vector<std::string> lines;
      std::string refusal;
      bool stopServer = false;
    } cases[] = {
        {"S100200", kUpperS100200, ""},
        {"S100100", {}, "Student S100100 has no aid accounts."},
        {"  s100200 ", kLowerS100200, ""},
        {"S1234567890123456789", {}, "No student with ID S1234567890123456789."},
        {"S100200", kUpperS100200, ""},
        {"S100300", {}, unreachable(), true},
        {"S12345678901234567890", {}, "A student ID has at most 20 characters."},
    };
    std::size_t boxes = 0;
    for (const auto& c : cases) {
      if (c.stopServer) m_server.stop();
      if (!c.refusal.empty()) MessageBoxScript::arm(platform::IDOK);
      typeAndEnter(dlg, c.typed);
      if (!c.refusal.empty()) expectLastBox(++boxes, c.refusal);
      expectState(dlg, c.lines, c.typed);
      EXPECT_EQ(text(dlg, CStipendoDlg::IDC_STUDENT_ID), c.typed) << "the typed ID is gone from the edit";
      EXPECT_TRUE(focusInId(dlg)) << c.typed << ": the focus is not in the ID edit";
    }
  });
}

// The scanner named on the command line reaches the lookup dialog, blanks and all.
TEST_F(StipendoTest, ACodeFromStorescanIsLookedUp) {
  QTemporaryDir dir;
  const QString pipe = dir.filePath("scanner.pipe");
  ASSERT_EQ(::mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
  ASSERT_EQ(ApplyCommandLine({"stipendo", "--server", m_server.url(), "--scanner=" + pipe}, "stipendo"),
            CommandLine::Run);
  runDialog([&](CStipendoDlg& dlg) {
    // Only now is the pipe read; storescan refuses one nobody reads.
    QProcess storescan;
    storescan.start(QStringLiteral(STORESCAN_PATH), {"--device", pipe, " S100300 "});
    EXPECT_TRUE(storescan.waitForFinished(15000) && storescan.exitCode() == 0) << "storescan failed";
    const QDeadlineTimer deadline(10000);
    while (shownLines(&dlg).size() < kS100300.size() && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_EQ(shownLines(&dlg), kS100300);
  });
}

// On a machine without a display, --help is answered and a malformed command line refused on stderr.
TEST_F(StipendoTest, AMalformedCommandLineIsRefusedBeforeAnyWindow) {
  QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) noDisplay.remove(name);
  const auto run = [&](QProcess& program, const QStringList& arguments) {
    program.setProcessEnvironment(noDisplay);
    program.start(QStringLiteral(STIPENDO_PATH), arguments);
    return program.waitForFinished(15000);
  };
  const struct {
    QStringList arguments;
    const char* sentence;
  } cases[] = {
      {{"--scale", "abc"}, "\"scale\" must be a number above 0 and at most 8, such as 2, not \"abc\"."},
      {{"--scale=0"}, "\"scale\" must be a number above 0 and at most 8, such as 2, not \"0\"."},
      {{"--server"}, "Option --server needs a value."},
      {{"--printer="}, "Option --printer needs a value."},
      {{"--scanner", "--scale", "2"}, "Option --scanner needs a value."},
      {{"--colour=blue"}, "Unknown option \"colour\"."},
  };
  for (const auto& c : cases) {
    QProcess program;
    ASSERT_TRUE(run(program, c.arguments)) << "stipendo kept running";
    EXPECT_EQ(program.exitCode(), 2) << c.sentence;
    EXPECT_TRUE(program.readAllStandardError().startsWith(QByteArray("stipendo: ") + c.sentence + "\n")) << c.sentence;
  }
  QProcess help;
  ASSERT_TRUE(run(help, {"--scale=abc", "--help"}));
  EXPECT_EQ(help.exitCode(), 0);
  EXPECT_TRUE(help.readAllStandardOutput().startsWith("Usage: stipendo [--server URL]"));
  const double scale = platform::uiScale();
  EXPECT_EQ(ApplyCommandLine({"stipendo", "--scale", "3", "--colour", "blue"}, "stipendo"), CommandLine::Refused);
  EXPECT_EQ(platform::uiScale(), scale) << "a refused command line was applied";
}

}  // namespace
