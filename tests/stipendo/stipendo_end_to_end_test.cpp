// The Stipendo program from its start dialog to a scanned lookup: the
// storeserver program on the demo store, the storescan command on a named
// pipe, and the program configured by its command line as a clerk starts it.
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "shell/shell_app.h"
#include "shell/start_dlg.h"
#include "stipendo/stipendo_app.h"
#include "stipendo/stipendo_dlg.h"
#include "stipendo_test_support.h"
#include "tessel/login_dlg.h"
#include "tessel/tessel_config.h"
#include "tests/support/qt_fixture.h"

namespace {

using stipendo_test::shownLines;
using stipendo_test::waitUntil;
using testsupport::clickControl;
using testsupport::ModalDriver;
using testsupport::typeInto;

class StipendoEndToEnd : public testsupport::QtFixture {
 protected:
  void SetUp() override {
    QtFixture::SetUp();
    CTesselConfig::ClearOverrides();
    ASSERT_TRUE(m_dir.isValid()) << "no scratch directory: " << m_dir.errorString().toStdString();
  }

  void TearDown() override {
    if (m_server.state() != QProcess::NotRunning) {
      m_server.kill();
      m_server.waitForFinished(10000);
    }
    CTesselConfig::ClearOverrides();
    QtFixture::TearDown();
  }

  // Starts storeserver on a free port; the port comes from its "listening on" line.
  void startServer(int& port) {
    m_server.start(QStringLiteral(STORESERVER_PATH),
                   {"--port", "0", "--database", m_dir.filePath("store.db"), "--demo", "--address", "127.0.0.1"});
    ASSERT_TRUE(m_server.waitForStarted(10000)) << "storeserver did not start: " << m_server.errorString().toStdString();
    const QByteArray prefix = "storeserver listening on 127.0.0.1:";
    QByteArray out;
    const QDeadlineTimer deadline(60000);
    while (!out.contains(prefix) || out.indexOf('\n', out.indexOf(prefix)) < 0) {
      ASSERT_FALSE(deadline.hasExpired()) << "storeserver said no \"listening on\" line; stdout: " << out.toStdString();
      ASSERT_NE(m_server.state(), QProcess::NotRunning)
          << "storeserver ended: " << m_server.readAllStandardError().toStdString();
      m_server.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
      out += m_server.readAllStandardOutput();
    }
    port = out.mid(out.indexOf(prefix) + prefix.size()).trimmed().toInt();
    ASSERT_GT(port, 0) << "no port in: " << out.toStdString();
  }

  QTemporaryDir m_dir;
  QProcess m_server;
};

TEST_F(StipendoEndToEnd, LogInFromTheStartDialogThenScanAStudent) {
  int port = 0;
  ASSERT_NO_FATAL_FAILURE(startServer(port));
  const QString pipe = m_dir.filePath("scanner.pipe");
  ASSERT_EQ(::mkfifo(pipe.toLocal8Bit().constData(), 0600), 0) << "mkfifo: " << std::strerror(errno);
  ASSERT_TRUE(ApplyCommandLine({"stipendo", "--server", QStringLiteral("http://127.0.0.1:%1").arg(port), "--scanner",
                                pipe},
                               "stipendo"))
      << "the command line was refused";
  // The server's real password hashing and two child processes on a busy machine.
  ModalDriver::setFallbackTimeout(30000);

  bool sawStart = false, sawLogIn = false, sawLookup = false;
  std::string statusAfterFeature;
  ModalDriver::whenModal([&](QWidget* modal) {
    auto* start = qobject_cast<CStartDlg*>(modal);
    if (!start) {
      ADD_FAILURE() << "expected the start dialog, got " << modal->windowTitle().toStdString();
      modal->close();
      return;
    }
    sawStart = true;
    EXPECT_EQ(start->Status().toStdString(), "Enter Password") << "no password is kept, yet none was asked for";
    EXPECT_EQ(start->windowTitle().toStdString(), "Stipendo") << "wrong start dialog title";
    EXPECT_EQ(start->controlText(CStartDlg::IDC_FEATURE).toStdString(), "Stipendo Lookup") << "wrong feature button";
    // The log-in and the lookup dialog run inside this click.
    clickControl(start, CStartDlg::IDC_FEATURE);
    statusAfterFeature = start->Status().toStdString();
    EXPECT_TRUE(start->m_bConnected) << "not connected after the log-in";
    start->close();
  });
  ModalDriver::whenModal([&](QWidget* modal) {
    if (!qobject_cast<CLogInDlg*>(modal)) {
      ADD_FAILURE() << "expected the log-in dialog, got " << modal->windowTitle().toStdString();
      modal->close();
      return;
    }
    sawLogIn = true;
    typeInto(modal, CLogInDlg::IDC_USER, "clerk");
    typeInto(modal, CLogInDlg::IDC_PASSWORD, "clerk1");
    clickControl(modal, platform::IDOK);
  });
  ModalDriver::whenModal([&](QWidget* modal) {
    auto* dlg = qobject_cast<CStipendoDlg*>(modal);
    if (!dlg) {
      ADD_FAILURE() << "expected the lookup dialog, got " << modal->windowTitle().toStdString();
      modal->close();
      return;
    }
    sawLookup = true;
    // Only now does the dialog read the pipe; storescan refuses a pipe nobody reads.
    QProcess storescan;
    storescan.start(QStringLiteral(STORESCAN_PATH), {"--device", pipe, "S100300"});
    EXPECT_TRUE(storescan.waitForFinished(15000)) << "storescan did not finish";
    EXPECT_EQ(storescan.exitCode(), 0) << "storescan: " << storescan.readAllStandardError().toStdString();
    const bool listed = waitUntil([&] { return shownLines(dlg).size() == 21; }, 20000);
    const std::vector<std::string> lines = shownLines(dlg);
    EXPECT_TRUE(listed) << "S100300's three accounts were not listed; got " << lines.size() << " lines";
    if (listed) {
      EXPECT_EQ(lines[0], "Agency Number:|VA-0001") << "first account";
      EXPECT_EQ(lines[7], "Agency Number:|TRIBAL-77") << "second account";
      EXPECT_EQ(lines[10], "Total Balance:|-$25.00") << "negative balance";
      EXPECT_EQ(lines[14], "Agency Number:|GLTF-5") << "third account";
      EXPECT_EQ(lines[19], "Amount Available:|-$100.00") << "negative amount available";
      EXPECT_EQ(lines[20], "|") << "the last account's separating line";
    }
    EXPECT_EQ(dlg->controlText(CStipendoDlg::IDC_STUDENT_ID).toStdString(), "S100300") << "scanned code not in the edit";
    EXPECT_EQ(dlg->controlText(CStipendoDlg::IDC_ENTER).toStdString(), "Clear") << "not in the result state";
    modal->close();
  });

  CStipendoApp app;
  EXPECT_FALSE(app.InitInstance()) << "the program should end when the start dialog closes";
  EXPECT_TRUE(sawStart && sawLogIn && sawLookup)
      << "dialogs seen: start " << sawStart << ", log-in " << sawLogIn << ", lookup " << sawLookup;
  EXPECT_EQ(statusAfterFeature, "Logged in as clerk") << "the status line does not show the server's log-in answer";

  m_server.terminate();  // SIGTERM
  ASSERT_TRUE(m_server.waitForFinished(30000)) << "storeserver did not stop on SIGTERM";
  EXPECT_EQ(m_server.exitStatus(), QProcess::NormalExit) << "storeserver crashed";
  EXPECT_EQ(m_server.exitCode(), 0) << "storeserver failed to stop cleanly";
  const std::string log = m_server.readAllStandardError().toStdString();
  EXPECT_NE(log.find("login user=clerk app=2 outcome=ok"), std::string::npos) << "no Stipendo log-in in: " << log;
  EXPECT_NE(log.find("requests=aid_accounts outcome=ok"), std::string::npos) << "no aid lookup in: " << log;
}

}  // namespace
