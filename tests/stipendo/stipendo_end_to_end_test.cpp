// The Stipendo program as a clerk starts it: its command line, and storescan
// on a named pipe for its scanner; the store server in this process.
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/dialog.h"
#include "shell/shell_app.h"
#include "stipendo/stipendo_app.h"
#include "stipendo/stipendo_dlg.h"
#include "stipendo_test_support.h"
#include "tessel/tessel_config.h"
#include "tests/support/demo_server.h"
#include "tests/support/qt_fixture.h"

namespace {

using testsupport::ModalDriver;

class StipendoEndToEnd : public testsupport::QtFixture {
 protected:
  void TearDown() override {
    CTesselConfig::ClearOverrides();
    QtFixture::TearDown();
  }
};

// The scanner named on the command line reaches the lookup dialog, blanks and all.
TEST_F(StipendoEndToEnd, ACodeFromStorescanIsLookedUp) {
  testsupport::DemoServer server;
  QTemporaryDir dir;
  const QString pipe = dir.filePath("scanner.pipe");
  ASSERT_EQ(::mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
  ASSERT_EQ(ApplyCommandLine({"stipendo", "--server", server.url(), "--scanner", pipe}, "stipendo"), CommandLine::Run);
  CStipendoApp app;
  app.m_socketMsg.SetServer(server.url());
  app.m_socketMsg.SetCredentials(QStringLiteral("clerk"), QStringLiteral("clerk1"));
  std::vector<std::string> lines;
  ModalDriver::whenModal([&](QWidget* lookup) {
    // Only now does the dialog read the pipe; storescan refuses a pipe nobody reads.
    QProcess storescan;
    storescan.start(QStringLiteral(STORESCAN_PATH), {"--device", pipe, " S100300 "});
    EXPECT_TRUE(storescan.waitForFinished(15000) && storescan.exitCode() == 0) << "storescan failed";
    stipendo_test::waitUntil([&] { return stipendo_test::shownLines(lookup).size() == 21; });
    lines = stipendo_test::shownLines(lookup);
    lookup->close();
  });
  CStipendoDlg dlg;
  dlg.runModal();
  ASSERT_EQ(lines.size(), 21u) << "S100300's three accounts were not listed";
  EXPECT_EQ(lines[7], "Agency Number:|TRIBAL-77") << "second account";
  EXPECT_EQ(lines[19], "Amount Available:|-$100.00") << "negative amount available";
}

// With no window yet, a malformed command line is refused on stderr.
TEST_F(StipendoEndToEnd, AMalformedCommandLineIsRefusedBeforeAnyWindow) {
  const struct {
    QStringList arguments;
    const char* sentence;
  } cases[] = {
      {{"--scale", "abc"}, "--scale takes a number above 0 and at most 8, such as 2, not \"abc\"."},
      {{"--scale", "0"}, "--scale takes a number above 0 and at most 8, such as 2, not \"0\"."},
      {{"--server"}, "--server needs a value after it."},
      {{"--scanner", "--scale", "2"}, "--scanner needs a value after it."},
      {{"--colour", "blue"}, "\"--colour\" is not one of its options."},
  };
  for (const auto& c : cases) {
    QProcess program;
    program.start(QStringLiteral(STIPENDO_PATH), c.arguments);  // offscreen, as this test runs
    ASSERT_TRUE(program.waitForFinished(15000)) << "stipendo kept running";
    EXPECT_EQ(program.exitCode(), 2) << c.sentence;
    const QByteArray err = "\n" + program.readAllStandardError();  // after any warning of Qt
    EXPECT_TRUE(err.contains(QByteArray("\nstipendo: ") + c.sentence + "\n")) << c.sentence;
  }
  const double scale = platform::uiScale();
  EXPECT_EQ(ApplyCommandLine({"stipendo", "--scale", "3", "--colour", "blue"}, "stipendo"), CommandLine::Refused);
  EXPECT_EQ(platform::uiScale(), scale) << "a refused command line was applied";
}

}  // namespace
