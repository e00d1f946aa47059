// Sellin's dialogs on the demo server: chooser, purchasers, item lookup, stolen books; the ticket's commands.
#include <QLabel>
#include <QScrollBar>

#include "sellin/purchasers_dlg.h"
#include "sellin/select_item_dlg.h"
#include "sellin/select_ticket_dlg.h"
#include "sellin/stolen_items_dlg.h"
#include "tests/sellin/sellin_fixture.h"
#include "wire/item_rules.h"

namespace {

using namespace sellin_test;
using testsupport::listRows;
using testsupport::ModalDriver;

constexpr int kDetailList = 10001;  // the detail dialog's and the lookup dialog's list

QString itemQuery(const char* code) { return CGlobalQueryStrings::GetSLItemDetail(1001, QString::fromUtf8(code), 1); }

// The page label, the row count, the first row and which of Prev and Next show.
std::string pageOf(QWidget* dlg) {
  const auto rows = listRows(dlg, CSelectItemDlg::IDC_LIST);
  return text(dlg, CSelectItemDlg::IDC_PAGE) + ": " + std::to_string(rows.size()) + " from " +
         (rows.empty() ? "" : rows[0]) + (shown(dlg, CSelectItemDlg::IDC_PREV) ? " Prev" : "") +
         (shown(dlg, CSelectItemDlg::IDC_NEXT) ? " Next" : "");
}

TEST_F(SellinTest, ChooserPagesThroughTheServerAndKeepsItsPageWhenNextFails) {
  const std::string two = "Page 2 of 3: 10 from 9780001008144|200023 Prev Next";
  CSelectItemDlg dlg(itemQuery("calculus"));
  ModalDriver::whenModal([&](QWidget* modal) {
    EXPECT_EQ(pageOf(modal), "Page 1 of 3: 10 from 9780001000001|200001 Next");
    EXPECT_EQ(text(modal, CSelectItemDlg::IDC_BOOKKEY) + " " + text(modal, CSelectItemDlg::IDC_DESC), "K1000 Calculus");
    testsupport::clickControl(modal, CSelectItemDlg::IDC_NEXT);
    EXPECT_EQ(pageOf(modal), two);
    testsupport::clickControl(modal, CSelectItemDlg::IDC_NEXT);
    EXPECT_EQ(pageOf(modal), "Page 3 of 3: 5 from 9780001005921|200017 Prev");
    testsupport::clickControl(modal, CSelectItemDlg::IDC_PREV);
    EXPECT_EQ(pageOf(modal), two);
    clickRow(modal, CSelectItemDlg::IDC_LIST, 3);
    EXPECT_EQ(text(modal, CSelectItemDlg::IDC_EDITION), "8");  // Calculus: Early Transcendentals, 8th

    m_server.stop();
    expectBox(unreachable());
    testsupport::clickControl(modal, CSelectItemDlg::IDC_NEXT);
    EXPECT_EQ(pageOf(modal), two);
    clickRow(modal, CSelectItemDlg::IDC_LIST, 3);  // the rows still have their records
    testsupport::pressKey(modal, Qt::Key_Return);
  });
  ASSERT_EQ(dlg.runModal(), platform::IDOK);
  EXPECT_EQ(dlg.GetSelected().m_nSKU, 200010);
  EXPECT_EQ(dlg.GetSelected().m_strItemID.toStdString(), "B0000009");
  checkBoxes();
}

TEST_F(SellinTest, ARefusedFirstRequestCancelsWithTheServersSentence) {
  expectBox("The ISBN 9780001000002 has a wrong check digit: check the code or type it again.");
  expectBox("Nobody buys this book in this buying session.");
  expectBox("No stolen-book reports are filed for this book at this store.");
  EXPECT_EQ(CSelectItemDlg(itemQuery("9780001000002")).runModal(), platform::IDCANCEL);
  EXPECT_EQ(CPurchasersDlg(CGlobalQueryStrings::GetSLPurchase(1001, QStringLiteral("B0000011"), 1)).runModal(),
            platform::IDCANCEL);
  EXPECT_EQ(CStolenItemsDlg(200001, QStringLiteral("S100100"), 1).runModal(), platform::IDCANCEL);
  checkBoxes();
}

TEST_F(SellinTest, PurchasersShowTheTermsOfTheSelectedRow) {
  CPurchasersDlg dlg(CGlobalQueryStrings::GetSLPurchase(1001, QStringLiteral("B0000000"), 1));
  const auto terms = [](QWidget* d) {
    using D = CPurchasersDlg;
    std::string all;
    for (int id : {D::IDC_STATUS, D::IDC_BOUGHT, D::IDC_NEED, D::IDC_BUY_QTY, D::IDC_BUY_PRICE, D::IDC_RETAIL})
      all += text(d, id) + "|";
    return all;
  };
  ModalDriver::whenModal([&](QWidget* modal) {
    EXPECT_EQ(listRows(modal, CPurchasersDlg::IDC_LIST),
              (std::vector<std::string>{"Ostrand Company|", "Midwest Book Wholesale|"}));
    EXPECT_EQ(terms(modal), "Adopted|0|*|*|12.50|25.00|");
    clickRow(modal, CPurchasersDlg::IDC_LIST, 1);
    EXPECT_EQ(terms(modal), "Wholesale|0|*|*|7.50|25.00|");
    testsupport::pressKey(modal, Qt::Key_Return);
  });
  ASSERT_EQ(dlg.runModal(), platform::IDOK);
  EXPECT_EQ(dlg.GetSelected().m_strPurchaser.toStdString(), "Midwest Book Wholesale");
}

TEST_F(SellinTest, StolenReportsListInReplyOrderAndOpenTheirDetail) {
  CStolenItemsDlg dlg(200002, QStringLiteral("S100100"), 1);
  ModalDriver::whenModal([&](QWidget* modal) {
    EXPECT_EQ(listRows(modal, CStolenItemsDlg::IDC_LIST), std::vector<std::string>(3, "9780001000377|200002"));
    EXPECT_EQ(text(modal, CStolenItemsDlg::IDC_COMMENT), "");
    clickRow(modal, CStolenItemsDlg::IDC_LIST, 1);
    EXPECT_EQ(text(modal, CStolenItemsDlg::IDC_DESC), "Calculus");
    EXPECT_EQ(text(modal, CStolenItemsDlg::IDC_COMMENT), "Name written inside cover");
    ModalDriver::whenModal([](QWidget* detail) {
      EXPECT_EQ(listRows(detail, kDetailList),
                (std::vector<std::string>{"Student ID:|S100200", "Student Name:|Ben Brooks",
                                          "Stolen:|2026-02-11 Library, 2nd floor", "|Name written inside cover",
                                          "SKU:|200002", "Book Key:|K1000", "|Calculus", "ISBN:|9780001000377",
                                          "Edition:|8", "Copyright:|2011", "Binding:|Hardcover"}));
      testsupport::clickControl(detail, platform::IDOK);
    });
    testsupport::clickControl(modal, CStolenItemsDlg::IDC_DETAIL);
    modal->close();
  });
  EXPECT_EQ(dlg.runModal(), platform::IDCANCEL);

  // One report: its detail at once, and closing it closes the list.
  ModalDriver::whenModal([](QWidget* detail) {
    EXPECT_EQ(listRows(detail, kDetailList).at(0), "Student ID:|s100200");
    testsupport::clickControl(detail, platform::IDOK);
  });
  EXPECT_EQ(CStolenItemsDlg(200005, QString(), 1).runModal(), platform::IDOK);
}

// The item lookup: a "501" inventory error is silence, a refused product query is no product, a failed
// exchange tells its own reason.
TEST_F(SellinTest, ItemLookupShowsWhatTheStoreKnows) {
  std::vector<std::string> noProduct, product;
  for (auto* rows : {&noProduct, &product})
    ModalDriver::whenModal([rows](QWidget* lookup) {
      *rows = listRows(lookup, kDetailList);
      testsupport::clickControl(lookup, platform::IDOK);
    });
  m_app->LookUpItem(QStringLiteral("200023"), 1);  // inventory, no product
  m_app->LookUpItem(QStringLiteral("200001"), 1);
  noProduct.resize(3);
  EXPECT_EQ(noProduct, (std::vector<std::string>{"Product:|no product record", "Store:|1", "New On Hand:|5"}));
  product.resize(8);
  EXPECT_EQ(std::vector<std::string>(product.begin(), product.begin() + 3),
            (std::vector<std::string>{"SKU:|200001", "ISBN:|9780001000001", "|Calculus"}));
  EXPECT_EQ(product[7], "New Price:|$25.00");
  m_app->LookUpItem(QStringLiteral("200008"), 1);  // product, no inventory record: "501 ..."
  expectBox("The lookup needs the book's SKU number.");
  m_app->LookUpItem(QStringLiteral("SKU"), 1);

  m_server.stop();
  expectBox(unreachable());
  m_app->LookUpItem(QStringLiteral("200001"), 1);
  checkBoxes();
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
    // The warning of 3 counts the book's other lines: line 1 edited to 2 makes 1 + 2, the next add 3 + 1.
    selectRow(dlg, 0);
    confirmQty(2);
    testsupport::clickControl(&dlg, CTicketDlg::IDC_EDIT);
    choosePurchaser();
    expectBox("Sellin quantity exceeds the transaction warning of 3.  Accept it anyway?", platform::IDYES);
    enterCode(dlg, kCalculus9);
    EXPECT_EQ(dlg.GetSelectedItem()->m_nLine, 4) << "lines 1, 2, 3, then 2 deleted";
    EXPECT_EQ(dlg.controlText(CTicketDlg::IDC_TOTAL).toStdString(), "$ 50.00");
  });
  checkBoxes();
}

// The widest quantity and price the store server takes, and their total over lines, are shown whole.
TEST_F(TicketTest, TheLargestFiguresTheServerTakesShowWhole) {
  runTicket([](CTicketDlg& dlg) {
    for (const std::int64_t qty : {wire::rules::kMinQty, wire::rules::kMaxQty, wire::rules::kMaxQty}) {
      auto* line = new CTicketItem;
      std::tie(line->m_nQty, line->m_strPrice, line->m_detail.m_strISBN) = std::tuple(int(qty), "99999.99", kCalculus8);
      dlg.InsertItemRow(line);
    }
    const QAbstractItemView* rows = dlg.listView(CTicketDlg::IDC_LIST);
    const QTreeWidget* list = dlg.listView(CTicketDlg::IDC_LIST);
    for (int column : {0, 1, 2}) EXPECT_LE(rows->sizeHintForColumn(column), list->columnWidth(column)) << column;
    const QLabel* total = dlg.label(CTicketDlg::IDC_TOTAL);
    EXPECT_LE(total->sizeHint().width(), total->contentsRect().width()) << total->text().toStdString();
  });
  // The open tickets' list, in more rows than it shows, with the widest figures a ticket record carries, and
  // with a usual ticket, beside which a student ID of 12 characters shows whole.
  CSLOpenTicketInfo widest, usual;
  std::tie(widest.m_strReceipt, widest.m_strStudentID, widest.m_nLines, widest.m_strTotal) =
      std::tuple("0000000001", "S1002003004005006007", 99999, "-99999999.99");
  std::tie(usual.m_strReceipt, usual.m_strStudentID, usual.m_nLines, usual.m_strTotal) =
      std::tuple("00000001", "S10020030040", 1, "19.75");
  const struct {
    CSLOpenTicketInfo ticket;
    int count;
    std::vector<int> wholeColumns;
  } lists[] = {{widest, 30, {0, 2, 3}}, {usual, 1, {0, 1, 2, 3}}};
  for (const auto& [ticket, count, wholeColumns] : lists) {
    CDataArray<CSLOpenTicketInfo> tickets;
    for (int i = 0; i < count; ++i) tickets.Add(ticket);
    CSelectTicketDlg list(&tickets);
    ModalDriver::whenModal([&](QWidget* shown) {
      const QTreeWidget* rows = shown->findChild<QTreeWidget*>();
      const QAbstractItemView* view = rows;  // where the size hint is public
      for (int column : wholeColumns)
        EXPECT_LE(view->sizeHintForColumn(column), rows->columnWidth(column)) << count << " rows, column " << column;
      EXPECT_EQ(rows->horizontalScrollBar()->maximum(), 0) << count << " rows scroll sideways";
      shown->close();
    });
    list.runModal();
  }
}

TEST_F(TicketTest, ARefusedAddEditDeleteOrEndLeavesTheTicketAsItWas) {
  const std::string noNeed = "Can only do a negative buy for this purchaser.";
  runTicket([&](CTicketDlg& dlg) {
    confirmQty(1);
    expectBox("Sellin quantity is within 1 of meeting the Buy quantity.");
    enterCode(dlg, kCalculus8);
    const std::string before = screen(dlg);
    const QString otherReceipt = otherOpensTicket("buyer", 1);

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
    expectBox("Sellin quantity cannot exceed the need.");
    testsupport::clickControl(&dlg, CTicketDlg::IDC_EDIT);
    EXPECT_EQ(screen(dlg), before) << "edit";

    ASSERT_EQ(otherBuys(otherReceipt, 2, -3), "") << "the other handheld takes back all three bought";
    expectBox("Are you sure you want to delete this item?", platform::IDYES);
    expectBox("Deleting this line would take back copies of this book that were already returned on another ticket: "
              "keep the line as it is, or tell the back office.");
    testsupport::clickControl(&dlg, CTicketDlg::IDC_DELETE_ITEM);
    EXPECT_EQ(screen(dlg), before) << "delete";

    m_app->m_socketMsg.SetCredentials(QStringLiteral("manager"), QStringLiteral("manager1"));
    expectBox("This ticket was opened by another user: start a new ticket.");
    testsupport::clickControl(&dlg, CTicketDlg::IDC_END);
    EXPECT_EQ(screen(dlg), before) << "End";
  });
  checkBoxes();
}

// A book's ISBN scanned at the prompt opens no ticket, and the prompt comes back for the card.
TEST_F(TicketTest, TheStudentIDPromptTakesScansAndOtherWindowsOfTheTicketIgnoreThem) {
  m_session.m_nStudentIDRequired = 1;
  CTicketDlg dlg(QStringLiteral("buyer"), &m_session, 1);
  expectBox(std::string(kCalculus9) + " is a book's ISBN, not a student ID: scan the barcode of the student's ID "
                                      "card, or type the student's ID.");
  constexpr const char* kLongestStudentID = "S1002003004005006007";
  for (const char* scanned : {kCalculus9, kLongestStudentID})
    ModalDriver::whenModal([&dlg, scanned](QWidget* prompt) {
      ASSERT_EQ(prompt->windowTitle(), "Scan");
      dlg.sendMessage(platform::WM_SCAN_DATA, QString::fromLatin1(scanned));  // the scanner's window is the ticket
    });
  ModalDriver::whenModal([&](QWidget*) {
    const QLabel* sid = dlg.label(CTicketDlg::IDC_SID);
    EXPECT_EQ(sid->text().toStdString(), std::string("SID:  ") + kLongestStudentID);
    EXPECT_LE(sid->fontMetrics().horizontalAdvance(sid->text()), sid->contentsRect().width()) << "not on one line";
    EXPECT_TRUE(dlg.controlText(CTicketDlg::IDC_XREF).isEmpty()) << "the student ID reached the Xref box";
    // A second add inside the first would open a purchasers dialog that no action waits for.
    ModalDriver::whenModal([&](QWidget* edit) {
      dlg.sendMessage(platform::WM_SCAN_DATA, QString::fromLatin1(kCalculus9));
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
  checkBoxes();
}

}  // namespace
