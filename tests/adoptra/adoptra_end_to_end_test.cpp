// Adoptra from its start dialog to a printout: the storeserver program on the
// demo store, the log-in as a clerk, a student lookup, and the printout sent
// to a receipt printer listening on tcp://127.0.0.1:PORT.
#include <QDeadlineTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "adoptra/adoptra_app.h"
#include "adoptra/adoptra_dlg.h"
#include <QTreeWidget>
#include "platform/profile.h"
#include "shell/shell_app.h"
#include "shell/start_dlg.h"
#include "tessel/login_dlg.h"
#include "tessel/tessel_config.h"
#include "tests/support/qt_fixture.h"
#include "tests/support/store_server_process.h"

namespace {

using testsupport::clickControl;
using testsupport::ModalDriver;
using testsupport::typeInto;

using AdoptraEndToEnd = testsupport::QtFixture;

TEST_F(AdoptraEndToEnd, LogInLookUpAStudentAndPrintToANetworkPrinter) {
  QTemporaryDir dir;
  QProcess server;
  const int port = testsupport::StartStoreServer(server, QStringLiteral(STORESERVER_PATH), dir.filePath("store.db"));
  ASSERT_GT(port, 0) << "storeserver did not start: " << server.readAllStandardError().toStdString();
  QTcpServer printer;
  ASSERT_TRUE(printer.listen(QHostAddress::LocalHost, 0));
  QByteArray printed;
  bool printerClosed = false;
  QObject::connect(&printer, &QTcpServer::newConnection, [&] {
    QTcpSocket* socket = printer.nextPendingConnection();
    QObject::connect(socket, &QTcpSocket::readyRead, [&, socket] { printed += socket->readAll(); });
    QObject::connect(socket, &QTcpSocket::disconnected, [&, socket] {
      printed += socket->readAll();
      printerClosed = true;
    });
  });
  CTesselConfig::ClearOverrides();
  ASSERT_EQ(ApplyCommandLine({"adoptra", "--server", QStringLiteral("http://127.0.0.1:%1").arg(port), "--printer",
                              QStringLiteral("tcp://127.0.0.1:%1").arg(printer.serverPort())},
                             "adoptra"),
            CommandLine::Run);
  platform::Profile::writeInt("Adoptra", "ItemBtn", 0);
  ModalDriver::setFallbackTimeout(30000);

  ModalDriver::whenModal([&](QWidget* start) {
    clickControl(start, CStartDlg::IDC_FEATURE);
    start->close();
  });
  ModalDriver::whenModal([&](QWidget* logIn) {
    typeInto(logIn, CLogInDlg::IDC_USER, "clerk");
    typeInto(logIn, CLogInDlg::IDC_PASSWORD, "clerk1");
    clickControl(logIn, platform::IDOK);
  });
  ModalDriver::whenModal([&](QWidget* modal) {
    auto* dlg = qobject_cast<CAdoptraDlg*>(modal);
    ASSERT_NE(dlg, nullptr) << "the feature button did not open the lookup";
    EXPECT_EQ(dlg->controlText(CAdoptraDlg::IDC_STORE), "Annex") << "locations are not listed trimmed and sorted";
    typeInto(dlg, CAdoptraDlg::IDC_CODE, "S100200");
    clickControl(dlg, CAdoptraDlg::IDC_ENTER);
    EXPECT_EQ(dlg->listView(CAdoptraDlg::IDC_RESULTS)->topLevelItemCount(), 5);
    clickControl(dlg, CAdoptraDlg::IDC_PRINT);
    const QDeadlineTimer deadline(20000);
    while (!printerClosed && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_TRUE(printerClosed) << "the printout did not arrive";
    modal->close();
  });
  CAdoptraApp app;
  EXPECT_FALSE(app.InitInstance());
  EXPECT_TRUE(printed.startsWith("Main Campus Bookstore\r\nCourse books for student S100200\r\n====="))
      << printed.data();
  EXPECT_TRUE(printed.contains("\r\nMATH 220 section 01\r\nCampus: Riverside Campus\r\n  Required  SKU 10006\r\n"))
      << printed.data();
  EXPECT_TRUE(printed.contains("\r\nProblem reports\r\nFALL 2026  SKU 10001\r\n  Wrong edition ordered\r\n"))
      << printed.data();
  server.terminate();
  EXPECT_TRUE(server.waitForFinished(30000));
  CTesselConfig::ClearOverrides();
}

}  // namespace
