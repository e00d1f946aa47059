// Sellin from its start dialog to a printed receipt: the storeserver program
// on the demo store, the buyer's log-in and session, two books bought, the
// receipt printed to a file and the ticket ended; then the stored lines.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QFile>
#include <QListWidget>
#include <QTreeWidget>

#include "platform/message_box.h"
#include "platform/profile.h"
#include "sellin/edit_item_dlg.h"
#include "sellin/select_session_dlg.h"
#include "sellin/sellin_app.h"
#include "sellin/ticket_dlg.h"
#include "tests/support/app_fixture.h"
#include "tests/support/store_server_process.h"

namespace {

using testsupport::clickControl;
using testsupport::ModalDriver;
using testsupport::pressKey;
using testsupport::typeInto;

// The stored lines of a receipt, "line item qty cents open", read from the file after the run.
std::vector<std::string> storedLines(const QString& database, const QString& receipt) {
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  std::vector<std::string> lines;
  sqlite3_open_v2(database.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_prepare_v2(db,
                     "SELECT l.line || ' ' || l.item_id || ' ' || l.qty || ' ' || l.price_cents || ' ' || t.is_open"
                     " FROM ticket_lines l JOIN tickets t USING (ticket_id) WHERE t.receipt = ? ORDER BY l.line",
                     -1, &st, nullptr);
  sqlite3_bind_text(st, 1, receipt.toUtf8().constData(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(st) == SQLITE_ROW) lines.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return lines;
}

using SellinEndToEnd = testsupport::QtFixture;

TEST_F(SellinEndToEnd, LogInBuyTwoBooksPrintTheReceiptAndEndTheTicket) {
  testsupport::StoreServerProcess server(QStringLiteral(STORESERVER_PATH));
  ASSERT_TRUE(server.started());
  const QString printerFile = server.scratch("printer.txt");
  CTesselConfig::ClearOverrides();
  ASSERT_EQ(ApplyCommandLine({"sellin", "--server", server.url(), "--printer", printerFile}, "sellin"),
            CommandLine::Run);
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
  server.stop();
  CTesselConfig::ClearOverrides();

  EXPECT_EQ(storedLines(server.database(), receipt), (std::vector<std::string>{"1 B0000000 1 1250 0", "2 B0000001 2 1500 0"}));
  QFile printed(printerFile);
  ASSERT_TRUE(printed.open(QIODevice::ReadOnly));
  const QByteArray text = printed.readAll();
  EXPECT_TRUE(text.contains(receipt.toUtf8())) << text.data();
  EXPECT_TRUE(text.contains("42.50\r\n")) << text.data();
}

}  // namespace
