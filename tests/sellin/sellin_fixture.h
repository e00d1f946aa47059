#pragma once
// Sellin's dialog tests: the demo server, logged in as the buyer; the ticket in session 1002 (warning 3,
// maximum 6) with another handheld working alongside; boxes armed with answers, their texts compared after.
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>

#include "platform/message_box.h"
#include "sellin/edit_item_dlg.h"
#include "sellin/sellin_app.h"
#include "sellin/ticket_dlg.h"
#include "sellin/ticket_item.h"
#include "tessel/query_strings.h"
#include "tests/support/app_fixture.h"
#include "wire/exchange.h"

namespace sellin_test {

using testsupport::ModalDriver;

class SellinTest : public testsupport::AppFixture<CSellinApp> {
 protected:
  SellinTest() : AppFixture("buyer", "buyer1") {}
  void expectBox(const std::string& text, int answer = platform::IDOK) {
    platform::MessageBoxScript::arm(answer);
    m_boxes.push_back(text);
  }
  void checkBoxes() const {
    std::vector<std::string> shown;
    for (const auto& box : platform::MessageBoxScript::shown()) shown.push_back(box.text.toStdString());
    EXPECT_EQ(shown, m_boxes);
  }

  std::vector<std::string> m_boxes;
};

inline std::string text(const QWidget* dialog, int id) {
  return static_cast<const platform::Dialog*>(dialog)->controlText(id).toStdString();
}
inline bool shown(const QWidget* dialog, int id) { return testsupport::findControl(dialog, id)->isVisible(); }

inline void clickRow(QWidget* dialog, int id, int row) {
  auto* list = testsupport::findControl<QTreeWidget>(dialog, id);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->topLevelItem(row)).center());
}

constexpr const char* kCalculus9 = "9780001000001";  // B0000000: two purchasers, need "*", 12.50
constexpr const char* kCalculus8 = "9780001000377";  // B0000001: one purchaser, 2 still needed, 16.00

class TicketTest : public SellinTest {
 protected:
  void SetUp() override {
    SellinTest::SetUp();
    useServer(m_other);
    std::tie(m_session.m_nSessionID, m_session.m_nTranWarningQty, m_session.m_nTranMaxQty) = std::tuple(1002, 3, 6);
  }
  // Runs the ticket dialog; the action works on it once it is open.
  void runTicket(const std::function<void(CTicketDlg&)>& action) {
    CTicketDlg dlg(QStringLiteral("buyer"), &m_session, 1);
    testsupport::runClosing(dlg, action);
  }
  // One request of the other handheld; its reply text, or "refused: " and the sentence.
  std::string other(int packetType, const QString& request) {
    m_other.Reset();
    m_other.AddQuery(packetType, request);
    const bool ok = m_other.SendQuery() && !m_other.IsError(0);
    return (ok ? "" : "refused: ") + m_other.GetResponse(0).toStdString();
  }
  // The receipt of a new ticket the other handheld opens at the store; empty when refused.
  QString otherOpensTicket(const char* user, int store) {
    CReceiptInfo ticket;
    const std::string reply = other(wire::kPacketQuery, CGlobalQueryStrings::GetSLTicket(user, "", store));
    ticket.SetFields(QString::fromStdString(reply));
    return ticket.m_strReceipt.trimmed();
  }
  std::string otherBuys(const QString& receipt, int line, int qty) {
    return other(wire::kPacketNewItem,
                 CGlobalUpdateStrings::GetSLItem(receipt, line, "Ostrand Company", 1002, "B0000001", qty, "16.00"));
  }
  CSocketMessage m_other{wire::kAppSellin};
  CSLSessionInfo m_session;
};

inline void enterCode(CTicketDlg& dlg, const char* code) {
  testsupport::typeInto(&dlg, CTicketDlg::IDC_XREF, code);
  testsupport::clickControl(&dlg, CTicketDlg::IDC_ENTER);
}

inline void choosePurchaser() {
  ModalDriver::whenModal([](QWidget* purchasers) { testsupport::pressKey(purchasers, Qt::Key_Return); });
}

// The edit dialog's answer: the quantity typed (minus after the digits), OK.
inline void confirmQty(int qty) {
  ModalDriver::whenModal([=](QWidget* edit) {
    auto* box = testsupport::findControl<QLineEdit>(edit, CEditItemDlg::IDC_QTY);
    QTest::keyClicks(box, QString::number(std::abs(qty)));
    if (qty < 0) QTest::keyClick(box, Qt::Key_Minus);
    testsupport::typeInto(edit, CEditItemDlg::IDC_PRICE, "");
    testsupport::pressKey(edit, Qt::Key_Return);
  });
}

// Every row "qty|price|ISBN", the total and the receipt.
inline std::string screen(const CTicketDlg& dlg) {
  std::string all = dlg.controlText(CTicketDlg::IDC_RECEIPT).toStdString() + " " +
                    dlg.controlText(CTicketDlg::IDC_TOTAL).toStdString();
  for (const std::string& row : testsupport::listRows(&dlg, CTicketDlg::IDC_LIST, 3)) all += " " + row;
  return all;
}

// The lines stored for a receipt of store 1, "line qty price", as a handheld logged in through msg reads them.
inline std::vector<std::string> storedLines(CSocketMessage& msg, const QString& receipt) {
  msg.Reset();
  msg.AddQuery(wire::kPacketQuery, CGlobalQueryStrings::GetSLLines(receipt, 1));
  std::vector<std::unique_ptr<CTicketItem>> lines;
  if (!msg.SendQuery() || msg.IsError(0) || !ReadTicketLines(msg.GetResponse(0), lines))
    return {"not read: " + msg.GetResponse(0).toStdString()};
  std::vector<std::string> texts;
  for (const auto& l : lines)
    texts.push_back(std::to_string(l->m_nLine) + " " + std::to_string(l->m_nQty) + " " + l->m_strPrice.toStdString());
  return texts;
}

inline void selectRow(CTicketDlg& dlg, int row) {
  dlg.listView(CTicketDlg::IDC_LIST)->setCurrentItem(dlg.listView(CTicketDlg::IDC_LIST)->topLevelItem(row));
}

}  // namespace sellin_test
