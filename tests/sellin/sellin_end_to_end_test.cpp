// Sellin from its start dialog to a printed receipt on the storeserver program; then the stored lines.
#include <QFile>
#include <QListWidget>

#include "platform/profile.h"
#include "sellin/select_session_dlg.h"
#include "tests/sellin/sellin_fixture.h"
#include "tests/server/server_process.h"

namespace {

using testsupport::clickControl;
using testsupport::ModalDriver;
using testsupport::pressKey;
using testsupport::typeInto;

using SellinEndToEnd = testsupport::QtFixture;

TEST_F(SellinEndToEnd, LogInBuyTwoBooksPrintTheReceiptAndEndTheTicket) {
  const std::string dir = profileDirectory().toStdString();
  const int port = servertest::quietPort();
  servertest::ServerProcess server(
      {"--port", std::to_string(port), "--database", dir + "/store.db", "--demo", "--address", "127.0.0.1"},
      dir + "/storeserver.log");
  ASSERT_TRUE(server.start() && server.waitUntilAccepting(port)) << server.output();
  const QString printerFile = profileDirectory() + "/printer.txt", url = QStringLiteral("127.0.0.1:%1").arg(port);
  CTesselConfig::ClearOverrides();
  ASSERT_EQ(ApplyCommandLine({"sellin", "--server", url, "--printer", printerFile}, "sellin"), CommandLine::Run);
  platform::Profile::writeString("Sellin", "BuyerUser", "buyer");
  platform::Profile::writeString("Sellin", "BuyerPass", "buyer1");
  ModalDriver::setFallbackTimeout(30000);

  QString receipt;
  testsupport::queueFeatureLogIn("buyer", "buyer1");
  ModalDriver::whenModal([&](QWidget* sessions) {
    testsupport::findControl<QListWidget>(sessions, CSelectSessionDlg::IDC_SESSIONS)->setCurrentRow(1);
    pressKey(sessions, Qt::Key_Return);
  });
  ModalDriver::whenModal([&](QWidget* modal) {
    auto* ticket = qobject_cast<CTicketDlg*>(modal);
    ASSERT_NE(ticket, nullptr) << "the feature button did not open the ticket";
    receipt = ticket->GetReceipt();
    ModalDriver::whenModal([](QWidget* purchasers) { pressKey(purchasers, Qt::Key_Return); });
    typeInto(ticket, CTicketDlg::IDC_XREF, "9780001000001");
    clickControl(ticket, CTicketDlg::IDC_ENTER);
    ModalDriver::whenModal([](QWidget* edit) {
      typeInto(edit, CEditItemDlg::IDC_QTY, "2");
      typeInto(edit, CEditItemDlg::IDC_PRICE, "15");
      pressKey(edit, Qt::Key_Return);
    });
    platform::MessageBoxScript::arm(platform::IDOK);  // within 0 % of the buy quantity
    typeInto(ticket, CTicketDlg::IDC_XREF, "9780001000377");
    clickControl(ticket, CTicketDlg::IDC_ENTER);
    EXPECT_EQ(ticket->controlText(CTicketDlg::IDC_TOTAL).toStdString(), "$ 42.50");
    clickControl(ticket, CTicketDlg::IDC_PRINT);
    clickControl(ticket, CTicketDlg::IDC_END);
    EXPECT_NE(ticket->GetReceipt(), receipt) << "End opens the next ticket";
    EXPECT_EQ(ticket->listView(CTicketDlg::IDC_LIST)->topLevelItemCount(), 0);
    ticket->close();
  });
  CSellinApp app;
  EXPECT_FALSE(app.InitInstance());
  CSocketMessage buyer(wire::kAppSellin);
  buyer.SetServer(url);
  buyer.SetCredentials(QStringLiteral("buyer"), QStringLiteral("buyer1"));
  EXPECT_EQ(sellin_test::storedLines(buyer, receipt), (std::vector<std::string>{"1 1 00012.50", "2 2 00015.00"}));
  EXPECT_EQ(server.stop(SIGTERM), 0) << server.output();
  CTesselConfig::ClearOverrides();

  QFile printed(printerFile);
  ASSERT_TRUE(printed.open(QIODevice::ReadOnly));
  const QByteArray text = printed.readAll();
  EXPECT_TRUE(text.contains(receipt.toUtf8())) << text.data();
  EXPECT_TRUE(text.contains("42.50\r\n")) << text.data();
}

}  // namespace
