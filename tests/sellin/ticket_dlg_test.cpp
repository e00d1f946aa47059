// The ticket dialog against the store server in this process on the demo
// store: session 1002 (no student IDs, warning 3, maximum 6), and another
// handheld of the same buyer working at the same time.
#include "sellin/ticket_dlg.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <functional>

#include "sellin/edit_item_dlg.h"
#include "sellin/ticket_item.h"
#include "sellin_fixture.h"
#include "tessel/query_strings.h"
#include "wire/exchange.h"

namespace {

using testsupport::ModalDriver;

constexpr const char* kCalculus9 = "9780001000001";  // B0000000: two purchasers, need "*", 12.50
constexpr const char* kCalculus8 = "9780001000377";  // B0000001: one purchaser, 2 still needed, 16.00

class TicketTest : public SellinTest {
 protected:
  void SetUp() override {
    SellinTest::SetUp();
    logIn(m_other);
    std::tie(m_session.m_nSessionID, m_session.m_nTranWarningQty, m_session.m_nTranMaxQty) = std::tuple(1002, 3, 6);
  }
  // Runs the ticket dialog; the action works on it once it is open.
  void runTicket(const std::function<void(CTicketDlg&)>& action) {
    CTicketDlg dlg(QStringLiteral("buyer"), &m_session, 1);
    ModalDriver::whenModal([&](QWidget*) {
      action(dlg);
      dlg.close();
    });
    dlg.runModal();
  }
  // One request of the other handheld; its reply text, or "refused: " and the sentence.
  std::string other(int packetType, const QString& request) {
    m_other.Reset();
    m_other.AddQuery(packetType, request);
    const bool ok = m_other.SendQuery() && !m_other.IsError(0);
    return (ok ? "" : "refused: ") + m_other.GetResponse(0).toStdString();
  }
  std::string otherBuys(const QString& receipt, int line, int qty) {
    return other(wire::kPacketNewItem,
                 CGlobalUpdateStrings::GetSLItem(receipt, line, "Ostrand Company", 1002, "B0000001", qty, "16.00"));
  }
  CSocketMessage m_other{wire::kAppSellin};
  CSLSessionInfo m_session;
};

void enterCode(CTicketDlg& dlg, const char* code) {
  testsupport::typeInto(&dlg, CTicketDlg::IDC_XREF, code);
  testsupport::clickControl(&dlg, CTicketDlg::IDC_ENTER);
}

void choosePurchaser() {
  ModalDriver::whenModal([](QWidget* purchasers) { testsupport::pressKey(purchasers, Qt::Key_Return); });
}

// The edit dialog's answer: the quantity typed (minus after the digits), OK.
void confirmQty(int qty) {
  ModalDriver::whenModal([=](QWidget* edit) {
    auto* box = testsupport::findControl<QLineEdit>(edit, CEditItemDlg::IDC_QTY);
    QTest::keyClicks(box, QString::number(std::abs(qty)));
    if (qty < 0) QTest::keyClick(box, Qt::Key_Minus);
    testsupport::typeInto(edit, CEditItemDlg::IDC_PRICE, "");
    testsupport::pressKey(edit, Qt::Key_Return);
  });
}

// Every row "qty|price|ISBN", the total and the receipt.
std::string screen(const CTicketDlg& dlg) {
  std::string all = dlg.controlText(CTicketDlg::IDC_RECEIPT).toStdString() + " " +
                    dlg.controlText(CTicketDlg::IDC_TOTAL).toStdString();
  const QTreeWidget* list = dlg.listView(CTicketDlg::IDC_LIST);
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    for (int column = 0; column < 3; ++column)
      all += (column ? "|" : " ") + list->topLevelItem(i)->text(column).toStdString();
  return all;
}

void selectRow(CTicketDlg& dlg, int row) {
  dlg.listView(CTicketDlg::IDC_LIST)->setCurrentItem(dlg.listView(CTicketDlg::IDC_LIST)->topLevelItem(row));
}


TEST_F(TicketTest, TotalAndOtherQuantitiesCountEveryLine) {
  CTicketDlg dlg(QStringLiteral("buyer"), &m_session, 1);
  const auto line = [](const char* itemId, int number, int qty, const char* price) {
    auto* item = new CTicketItem;
    std::tie(item->m_strItemID, item->m_nLine, item->m_nQty, item->m_strPrice) = std::tuple(itemId, number, qty, price);
    return item;
  };
  dlg.InsertItemRow(line("B0000001", 1, 2, "0012.50"));
  dlg.InsertItemRow(line("B0000002", 2, 5, "n/a"));  // no price: counts 0
  dlg.InsertItemRow(line("b0000001", 3, -1, "3.00"));
  EXPECT_EQ(dlg.controlText(CTicketDlg::IDC_TOTAL).toStdString(), "$ 22.00");
  EXPECT_EQ(dlg.SumOtherQty(QStringLiteral("B0000001"), 0), 1) << "letter case counts the same book";
  EXPECT_EQ(dlg.SumOtherQty(QStringLiteral("B0000001"), 1), -1) << "the edited line is left out";
}

TEST_F(TicketTest, LinesReachTheServerFirstAndANewLineNeverReusesANumber) {
  runTicket([&](CTicketDlg& dlg) {
    EXPECT_EQ(dlg.controlText(CTicketDlg::IDC_SID).toStdString(), "SID:");
    for (int qty : {1, -1, 1}) {
      if (qty > 0) choosePurchaser();
      if (qty < 0) confirmQty(qty);
      enterCode(dlg, qty > 0 ? kCalculus9 : kCalculus8);
    }
    EXPECT_EQ(screen(dlg), dlg.GetReceipt().toStdString() +
                               " $ 9.00 1|12.50|9780001000001 -1|16.00|9780001000377 1|12.50|9780001000001");
    selectRow(dlg, 1);
    expectBox("Are you sure you want to delete this item?", platform::IDYES);
    testsupport::clickControl(&dlg, CTicketDlg::IDC_DELETE_ITEM);
    choosePurchaser();
    enterCode(dlg, kCalculus9);
    EXPECT_EQ(dlg.GetSelectedItem()->m_nLine, 4) << "lines 1, 2, 3, then 2 deleted";
    selectRow(dlg, 0);
    confirmQty(2);
    expectBox("Sellin quantity exceeds the transaction warning of 3.  Accept it anyway?", platform::IDYES);
    testsupport::clickControl(&dlg, CTicketDlg::IDC_EDIT);
    EXPECT_EQ(dlg.controlText(CTicketDlg::IDC_TOTAL).toStdString(), "$ 50.00");
  });
  checkBoxes();
}

TEST_F(TicketTest, ARefusedAddEditDeleteOrEndLeavesTheTicketAsItWas) {
  const std::string noNeed = "This purchaser needs no more copies of this book; only a return can be entered.";
  runTicket([&](CTicketDlg& dlg) {
    confirmQty(1);
    expectBox("Sellin quantity is within 1 of meeting the Buy quantity.");
    enterCode(dlg, kCalculus8);
    const std::string before = screen(dlg);
    CReceiptInfo otherTicket;
    otherTicket.SetFields(
        QString::fromStdString(other(wire::kPacketQuery, CGlobalQueryStrings::GetSLTicket("buyer", "", 1))));
    const QString otherReceipt = otherTicket.m_strReceipt.trimmed();

    // The other handheld takes the last needed copy while this buyer looks at the line.
    ModalDriver::whenModal([&](QWidget* edit) {
      EXPECT_EQ(otherBuys(otherReceipt, 1, 1), "");
      testsupport::typeInto(edit, CEditItemDlg::IDC_PRICE, "");
      testsupport::pressKey(edit, Qt::Key_Return);
    });
    expectBox("Sellin quantity is within 0 of meeting the Buy quantity.");
    expectBox(noNeed);
    enterCode(dlg, kCalculus8);
    EXPECT_EQ(screen(dlg), before) << "add";

    selectRow(dlg, 0);
    confirmQty(2);
    expectBox("Sellin quantity is within 0 of meeting the Buy quantity.");
    expectBox("This purchaser needs only 1 more copy of this book.");
    testsupport::clickControl(&dlg, CTicketDlg::IDC_EDIT);
    EXPECT_EQ(screen(dlg), before) << "edit";

    ASSERT_EQ(otherBuys(otherReceipt, 2, -3), "") << "the other handheld takes back all three bought";
    expectBox("Are you sure you want to delete this item?", platform::IDYES);
    expectBox("Copies of this line were already returned on another ticket, so it cannot be taken back.");
    testsupport::clickControl(&dlg, CTicketDlg::IDC_DELETE_ITEM);
    EXPECT_EQ(screen(dlg), before) << "delete";

    m_app->m_socketMsg.SetCredentials(QStringLiteral("manager"), QStringLiteral("manager1"));
    expectBox("This ticket was opened by another user: start a new ticket.");
    testsupport::clickControl(&dlg, CTicketDlg::IDC_END);
    EXPECT_EQ(screen(dlg), before) << "End";
  });
  checkBoxes();
}

TEST_F(TicketTest, TheStudentIDPromptTakesScansAndOtherWindowsOfTheTicketIgnoreThem) {
  m_session.m_nStudentIDRequired = 1;
  CTicketDlg dlg(QStringLiteral("buyer"), &m_session, 1);
  ModalDriver::whenModal([&](QWidget* prompt) {
    ASSERT_EQ(prompt->windowTitle(), "Scan");
    dlg.sendMessage(platform::WM_SCAN_DATA, QStringLiteral("S100100"));  // the scanner's window is the ticket
  });
  ModalDriver::whenModal([&](QWidget*) {
    EXPECT_EQ(dlg.controlText(CTicketDlg::IDC_SID).toStdString(), "SID:  S100100");
    EXPECT_TRUE(dlg.controlText(CTicketDlg::IDC_XREF).isEmpty()) << "the student ID reached the Xref box";
    ModalDriver::whenModal([&](QWidget* edit) {
      const int exchanges = m_server.exchangeCount();
      dlg.sendMessage(platform::WM_SCAN_DATA, QString::fromLatin1(kCalculus9));
      EXPECT_EQ(m_server.exchangeCount(), exchanges) << "a scan started a second add inside the first";
      EXPECT_EQ(dlg.controlText(CTicketDlg::IDC_XREF).toStdString(), kCalculus8) << "the scan reached the Xref box";
      testsupport::clickControl(edit, platform::IDCANCEL);
    });
    enterCode(dlg, kCalculus8);
    choosePurchaser();
    dlg.sendMessage(platform::WM_SCAN_DATA, QString::fromLatin1(kCalculus9));
    EXPECT_EQ(screen(dlg), dlg.GetReceipt().toStdString() + " $ 12.50 1|12.50|9780001000001");
    dlg.close();
  });
  dlg.runModal();
}

}  // namespace
