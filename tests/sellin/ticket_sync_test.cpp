// The handheld's ticket against what the server stored, through a balancer double: lost answers, a frozen
// server, a clerk who stops waiting; open tickets continued and ended; receipts printed again.
#include <QFile>

#include "platform/profile.h"
#include "sellin/select_ticket_dlg.h"
#include "tessel/save_wait_dlg.h"
#include "tessel/scan_dlg.h"
#include "tests/sellin/sellin_fixture.h"
#include "tests/support/forwarding_double.h"

namespace {

using namespace sellin_test;
using Fault = testsupport::ForwardingDouble::Fault;

class TicketSyncTest : public TicketTest {
 protected:
  void SetUp() override {
    TicketTest::SetUp();
    for (const auto& [name, seconds] : {std::pair("ReadTimeout", "1"), std::pair("SaveTimeout", "8")})
      platform::Profile::writeString(CTesselConfig::SectionName(), name, seconds);
    m_app->m_socketMsg.SetServer(m_balancer.address());
  }
  // The box shown at index i begins with the text.
  static bool boxBegins(std::size_t i, const QString& text) {
    const auto& boxes = platform::MessageBoxScript::shown();
    return i < boxes.size() && boxes[i].text.startsWith(text);
  }

  testsupport::ForwardingDouble m_balancer{m_server.port()};
};

// The saving window: it shows the change is being saved, then the action.
void whileSaving(const std::function<void(QWidget*)>& action) {
  ModalDriver::whenModal([=](QWidget* saving) {
    EXPECT_EQ(text(saving, CSaveWaitDlg::IDC_SAVING), "Saving the change on the store server\u2026");
    action(saving);
  });
}

// Each change applied, its answer then held (a frozen server), a 502 or none at all: the handheld sends it
// again and shows what the server stored.
TEST_F(TicketSyncTest, AChangeWhoseAnswerWasLostLeavesTheStoredLinesOnScreen) {
  runTicket([&](CTicketDlg& dlg) {
    const std::string receipt = dlg.GetReceipt().toStdString();
    const std::string line = " 1|12.50|9780001000001";
    m_balancer.arm(Fault::Freeze, "sl_item");
    choosePurchaser();
    whileSaving([&](QWidget*) { m_balancer.release(); });
    enterCode(dlg, kCalculus9);
    EXPECT_EQ(screen(dlg), receipt + " $ 12.50" + line);

    m_balancer.arm(Fault::BadGateway, "sl_item");
    choosePurchaser();
    enterCode(dlg, kCalculus9);
    EXPECT_TRUE(m_balancer.played());
    EXPECT_EQ(screen(dlg), receipt + " $ 25.00" + line + line);

    m_balancer.arm(Fault::Close, "sl_item");
    selectRow(dlg, 0);
    expectBox("Are you sure you want to delete this item?", platform::IDYES);
    testsupport::clickControl(&dlg, CTicketDlg::IDC_DELETE_ITEM);
    EXPECT_TRUE(m_balancer.played());
    EXPECT_EQ(screen(dlg), receipt + " $ 12.50" + line);
    EXPECT_EQ(storedLines(m_other, dlg.GetReceipt()), std::vector<std::string>{"2 1 00012.50"});
  });
  checkBoxes();
}

// Stopping ends the wait at once; the frozen server's lines are read before the next command.
TEST_F(TicketSyncTest, AClerkWhoStopsWaitingSeesTheStoredLinesBeforeTheNextCommand) {
  runTicket([&](CTicketDlg& dlg) {
    m_balancer.arm(Fault::Freeze, "sl_item");
    choosePurchaser();
    whileSaving([](QWidget* saving) { testsupport::clickControl(saving, platform::IDCANCEL); });
    for (int i = 0; i < 2; ++i) platform::MessageBoxScript::arm(platform::IDOK);
    enterCode(dlg, kCalculus9);
    EXPECT_TRUE(boxBegins(0, "You stopped waiting for the store server after "));
    EXPECT_TRUE(boxBegins(1, CSocketMessage::NoAnswerText(1)));
    EXPECT_EQ(screen(dlg), dlg.GetReceipt().toStdString() + " $ ?");

    m_balancer.release();
    testsupport::clickControl(&dlg, CTicketDlg::IDC_ENTER);
    EXPECT_EQ(screen(dlg), dlg.GetReceipt().toStdString() + " $ 12.50 1|12.50|9780001000001");
  });
  EXPECT_EQ(platform::MessageBoxScript::shown().size(), 2u);
}

// A ticket left with books is offered again; the Tickets list continues or ends any open one.
TEST_F(TicketSyncTest, AnOpenTicketWithBooksIsOfferedAgainAndListedToContinueOrEnd) {
  std::string first, second;
  runTicket([&](CTicketDlg& dlg) {
    first = dlg.GetReceipt().toStdString();
    choosePurchaser();
    enterCode(dlg, kCalculus9);
  });
  const std::string offer = "You have an open ticket: receipt " + first + ", 1 line, $ 12.50.\nContinue it?";
  expectBox(offer, platform::IDYES);
  runTicket([&](CTicketDlg& dlg) { EXPECT_EQ(screen(dlg), first + " $ 12.50 1|12.50|9780001000001"); });

  expectBox(offer, platform::IDNO);
  runTicket([&](CTicketDlg& dlg) {
    second = dlg.GetReceipt().toStdString();
    EXPECT_EQ(screen(dlg), second + " $ 0.00") << "No did not open a new receipt";
    choosePurchaser();
    enterCode(dlg, kCalculus9);
    const auto chooseInList = [&](int row, int button) {
      ModalDriver::whenModal([=](QWidget* list) {
        clickRow(list, CSelectTicketDlg::IDC_TICKETS, row);
        testsupport::clickControl(list, button);
      });
      testsupport::clickControl(&dlg, CTicketDlg::IDC_TICKETS);
    };
    ModalDriver::whenModal([&](QWidget* list) {
      EXPECT_EQ(testsupport::listRows(list, CSelectTicketDlg::IDC_TICKETS, 4),
                (std::vector<std::string>{second + "||1|$ 12.50", first + "||1|$ 12.50"}));
      list->close();
    });
    testsupport::clickControl(&dlg, CTicketDlg::IDC_TICKETS);
    chooseInList(1, platform::IDOK);
    EXPECT_EQ(screen(dlg), first + " $ 12.50 1|12.50|9780001000001") << "Continue";
    chooseInList(0, CSelectTicketDlg::IDC_END_TICKET);
    EXPECT_EQ(screen(dlg), first + " $ 12.50 1|12.50|9780001000001") << "another ticket's End changed the screen";
    chooseInList(0, CSelectTicketDlg::IDC_END_TICKET);
    EXPECT_TRUE(dlg.GetReceipt().toStdString() != first && screen(dlg) == dlg.GetReceipt().toStdString() + " $ 0.00")
        << "End of the ticket on screen did not start a new one";
    expectBox("You have no open tickets with books at this store.");
    testsupport::clickControl(&dlg, CTicketDlg::IDC_TICKETS);
  });
  checkBoxes();
}

// A receipt is printed again as a copy by its scanned or typed number; another store's is refused.
TEST_F(TicketSyncTest, AReceiptOfThisStoreIsPrintedAgainAsACopy) {
  const QString printed = profileDirectory() + QStringLiteral("/printer.txt");
  CTesselConfig::Override({.printer = printed});
  m_other.SetCredentials(QStringLiteral("manager"), QStringLiteral("manager1"));
  const QString otherReceipt = otherOpensTicket("manager", 2);
  ASSERT_FALSE(otherReceipt.isEmpty()) << "no ticket at store 2";
  expectBox("Receipt " + otherReceipt.toStdString() + " is not a receipt of this store.");
  QString receipt;
  runTicket([&](CTicketDlg& dlg) {
    receipt = dlg.GetReceipt();
    choosePurchaser();
    enterCode(dlg, kCalculus9);
    testsupport::clickControl(&dlg, CTicketDlg::IDC_END);
    ModalDriver::whenModal([&](QWidget*) { dlg.sendMessage(platform::WM_SCAN_DATA, receipt); });
    testsupport::clickControl(&dlg, CTicketDlg::IDC_REPRINT);
    ModalDriver::whenModal([&](QWidget* prompt) {
      testsupport::typeInto(prompt, CScanDlg::IDC_CODE, otherReceipt);
      testsupport::pressKey(prompt, Qt::Key_Return);
    });
    testsupport::clickControl(&dlg, CTicketDlg::IDC_REPRINT);
  });
  checkBoxes();
  QFile file(printed);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "nothing was printed";
  const QString text = QString::fromUtf8(file.readAll());
  EXPECT_TRUE(text.contains(QLatin1String("*** COPY ***")) && text.contains(receipt) && text.contains("12.50"))
      << text.toStdString();
  EXPECT_EQ(text.count(QLatin1String("COPY")), 1) << "the refused receipt was printed";
}

}  // namespace
